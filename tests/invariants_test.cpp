// What start, stop, restart, reset and nimbra-repair always leave true, stated once
// over the recorded run of every rule-table variant with every renderer. The
// fake vendor library and the recorded ipset and listing commands act on a
// small model of the kernel's tables and IP sets, so that a second start and
// a repair see what the first left.
#include <gtest/gtest.h>
#include <stdio_ext.h>

#include <map>
#include <set>
#include <sstream>

#include "firewall/batch.h"
#include "nimbractl/dispatch.h"
#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

const std::set<std::string> kBuiltins = {"INPUT", "FORWARD", "OUTPUT", "PREROUTING", "POSTROUTING"};
const std::set<std::string> kTargets = {"ACCEPT", "DROP", "REJECT", "DNAT", "TPROXY", "MARK"};  // no chains
// Made by start for the agent's daemons, which use them on their own.
const std::set<std::string> kDaemonSets = {"whitelist-net", "whitelist-ip", "torlist",
                                           "whitelist-ip6", "torlistv6", "managedlistv6"};

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string word_after(const std::string &text, const std::string &option) {
    const size_t at = text.find(option);
    return at == std::string::npos ? "" : text.substr(at + option.size(), text.find(' ', at + option.size()) - at - option.size());
}

// The kernel's chains with their rules, by table ("ip6tables -t nat"), and
// its IP sets. A refused change changes nothing; one that breaks an
// invariant is named in faults as well.
struct kernel {
    std::map<std::string, std::map<std::string, std::vector<std::string>>> tables;
    std::set<std::string> sets;
    std::vector<std::string> *faults;

    bool names_set(const std::string &set) const {
        for (const auto &table : tables)
            for (const auto &chain : table.second)
                for (const std::string &rule : chain.second)
                    if (word_after(rule, "--match-set ") == set) return true;
        return false;
    }

    // change is "iptables -t TABLE OP CHAIN RULE", as echoed.
    bool change(const std::string &change) {
        std::istringstream words(change);
        std::string tool, t, table, op, chain, rule;
        words >> tool >> t >> table >> op >> chain;
        std::getline(words >> std::ws, rule);
        // Listed as the kernel shows it: "-p udp -m udp --dport 53".
        for (const std::string protocol : {"udp", "tcp"}) {
            const size_t at = rule.find("-p " + protocol + " --dport");
            if (at != std::string::npos) rule.insert(at + 7, "-m " + protocol + " ");
        }
        auto &chains = tables[tool + " -t " + table];
        const bool exists = chains.count(chain) || kBuiltins.count(chain);
        if (op == "-N") return !exists && (chains[chain], true);
        if (!exists && (op == "-A" || op == "-I")) faults->push_back("a rule before its chain: " + change);
        if (!exists) return false;
        auto &rules = chains[chain];
        if (op == "-F") return rules.clear(), true;
        const auto found = std::find(rules.begin(), rules.end(), rule);
        if (op == "-D") return found != rules.end() && (rules.erase(found), true);
        const std::string target = word_after(rule, "-j "), set = word_after(rule, "--match-set ");
        if (!target.empty() && !kTargets.count(target) && !chains.count(target))
            faults->push_back("a jump before its chain: " + change);
        if (!set.empty() && !sets.count(set)) faults->push_back("a rule before its set: " + change);
        size_t at = op == "-A" ? rules.size() : 0;
        if (op == "-I" && isdigit(static_cast<unsigned char>(rule[0]))) {
            at = std::min<size_t>(std::stoul(rule) - 1, rules.size());
            rule.erase(0, rule.find(' ') + 1);
        }
        rules.insert(rules.begin() + at, rule);
        return true;
    }

    // "ipset create NAME OPTIONS" or "ipset -X NAME".
    bool ipset(const std::string &command) {
        std::string tool, op, name;
        std::istringstream(command) >> tool >> op >> name;
        if (op == "create") return sets.insert(name).second;
        if (names_set(name)) faults->push_back("a set destroyed while a rule names it: " + name);
        return !names_set(name) && sets.erase(name);
    }

    // "iptables -t TABLE -S" ("iptables -S" for filter), or with save
    // "iptables-save".
    std::string listing(const std::string &prefix, bool save) const {
        std::string text;
        for (const auto &table : tables) {
            if (table.first.compare(0, prefix.size(), prefix) != 0) continue;
            if (save) text += "*" + table.first.substr(table.first.rfind(' ') + 1) + "\n";
            for (const auto &chain : table.second)
                if (!kBuiltins.count(chain.first)) text += (save ? ":" : "-N ") + chain.first + (save ? " - [0:0]\n" : "\n");
            for (const auto &chain : table.second)
                for (const std::string &rule : chain.second) text += "-A " + chain.first + " " + rule + "\n";
            if (save) text += "COMMIT\n";
        }
        return text;
    }

    std::string dump() const {
        std::string text = listing("", false);
        for (const std::string &set : sets) text += "set " + set + "\n";
        return text;
    }
};

struct variant {
    const char *name, *ifnames, *settings;  // beside the directories and accelerator
    bool router_owns_chains;
    const char *stderr_of_start;
};

void PrintTo(const variant &v, std::ostream *os) { *os << v.name; }

#define NIMBRA_LOGGING "[nimbra_log]\nmax_log_size=2000000\n"
const char kNoLogging[] = "Nimbra-Agent service logging is disabled\n";
const char kTproxy[] = "[iptables]\nuse_tproxy_ipv6=1\n[nimbra_ports]\ndnsmasq_port=53\nrouter_dnsmasq_port=5353\n";

// The interfaces are lo, the one every host has (its link-local address
// comes from the fixture), named twice for two.
const variant kVariants[] = {
    // Only what start cannot do without: every switch at its default.
    {"defaults", "lo", "", false, kNoLogging},
    {"router_chains", "lo", "[iptables]\nchains_handled_by_router=1\n" NIMBRA_LOGGING, true, ""},
    {"tproxy", "lo", kTproxy, false, kNoLogging},
    {"two_interfaces", "lo lo", NIMBRA_LOGGING, false, ""},
    {"tproxy_two", "lo lo", kTproxy, false, kNoLogging},
};

enum renderer { ONE_BY_ONE, BATCH, REFUSED_BATCH };

class invariants : public agent_test, public testing::WithParamInterface<variant> {
protected:
    void SetUp() override {
        agent_test::SetUp();
        model.faults = &faults;
        recorder.answer = [this](const std::string &command) {
            const size_t save = command.find("-save");
            if (save != std::string::npos) return ++saves, model.listing(command.substr(0, save) + " ", true);
            return model.listing(command.find(" -t ") == std::string::npos ? command.substr(0, command.find(' ')) + " -t filter"
                                                                           : command.substr(0, command.size() - 3), false);
        };
        recorder.run = [this](const std::string &command) {
            std::vector<std::string> commands = {command};
            if (command.compare(0, 29, "ipset -exist restore <<'EOF'\n") == 0) {
                commands = lines_of(command.substr(29));
                commands.pop_back();  // EOF
                for (std::string &line : commands)
                    line = line.compare(0, 7, "create ") == 0 ? "ipset " + line : "ipset -X " + line.substr(8);
            }
            for (const std::string &line : commands) {
                if (line.compare(0, 6, "ipset ") != 0) continue;
                sent.push_back(line);
                // -exist: a set made twice is no failure.
                if (!model.ipset(line) && (commands.size() == 1 || line.compare(0, 9, "ipset -X ") == 0)) return 1;
            }
            return 0;
        };
        fake_vendor().on_iptables = [this](const fake_iptables_call &c) {
            sent.push_back(std::string(c.family ? "ip6tables" : "iptables") + " -t " + c.table + " " + c.operation +
                           " " + c.chain + " " + c.rule);
            // The echo is out before the tool can complain; a change without
            // a rule reaches the vendor as NULL, never as "".
            if (__fpending(stdout)) faults.push_back("sent before its echo was out: " + sent.back());
            if (c.has_rule == c.rule.empty()) faults.push_back("a rule sent as \"\" or NULL: " + sent.back());
            // The kernel's answer is the vendor library's result.
            const bool done = model.change(sent.back());
            fake_vendor().iptables_result = done ? 0 : -1;
            if (!done) refused.insert(sent.back());
        };
        // As iptables-restore --noflush: all or nothing, and a chain
        // declared again is emptied.
        fake_vendor().on_batch = [this](const fake_batch &batch) {
            kernel after = model;
            std::vector<std::string> changes;
            std::string table;
            bool applied = true;
            for (const std::string &line : lines_of(batch.text)) {
                const std::string prefix = (batch.family ? "ip6tables -t " : "iptables -t ") + table + " ";
                if (line[0] == '*') {
                    table = line.substr(1);
                } else if (line[0] == ':') {
                    changes.push_back(prefix + "-N " + line.substr(1, line.find(' ') - 1) + " ");
                    if (!after.change(prefix + "-F" + changes.back().substr(prefix.size() + 2))) after.change(changes.back());
                } else if (line != "COMMIT") {
                    changes.push_back(prefix + line + (line.find(' ', 3) == std::string::npos ? " " : ""));
                    applied = after.change(changes.back()) && applied;
                }
            }
            if (!applied || fake_vendor().batch_result < 0) return -1;
            model = after;
            sent.insert(sent.end(), changes.begin(), changes.end());
            return 0;
        };
        if_inet6_fixture() = "fe800000000000000000000000000001 01 40 20 80       lo\n";
    }

    // The router's packet filter without the agent's chains and rules (the
    // IP sets stay), with its own chains and hooks when it owns them.
    void router_chains() {
        model.tables.clear();
        if (!GetParam().router_owns_chains) return;
        for (const std::string tool : {"iptables", "ip6tables"}) {
            model.tables[tool + " -t filter"] = {{"FORWARD", {"-j NIMBRA_FILTERS"}}, {"INPUT", {"-j NIMBRA_INPUT"}},
                                                 {"NIMBRA_FILTERS", {}}, {"NIMBRA_INPUT", {}}};
            model.tables[tool + " -t nat"] = {{"PREROUTING", {"-j NIMBRA_NAT", "-j NIMBRA_NAT_FILTERED"}},
                                              {"NIMBRA_NAT", {}}, {"NIMBRA_NAT_FILTERED", {}}};
        }
    }

    // The agent's hook rule gone from PREROUTING in both families.
    void unhook(const std::string &rule) {
        if (GetParam().router_owns_chains) return;
        for (const std::string tool : {"iptables", "ip6tables"}) {
            auto &hooks = model.tables[tool + " -t nat"]["PREROUTING"];
            hooks.erase(std::remove(hooks.begin(), hooks.end(), rule), hooks.end());
        }
    }

    // A router with no agent state; the agent's files under root.
    void fresh_router(const std::string &root, renderer how) {
        model.sets.clear();
        router_chains();
        for (const char *sub : {"base/shares/usr/bin", "ram/status", "data", "db", "log"})
            std::filesystem::create_directories(root + "/" + sub);
        write_text(root + "/ram/MAC", "00:00:00:00:00:01");
        write_text(root + "/base/shares/usr/bin/runsvdir", "");
        chmod((root + "/base/shares/usr/bin/runsvdir").c_str(), 0755);
        use_config(dir, "[nimbra_path]\nbase=" + root + "/base\nramdisk=" + root + "/ram\ndata=" + root + "/data\ndb=" +
                            root + "/db\nlog=" + root + "/log\n[network]\nifnames=" + GetParam().ifnames +
                            "\n[hwa_flow]\nraise_supported=1\nflush_interval=10\n" + GetParam().settings);
        set_vendor_iptables_batch(how == ONE_BY_ONE ? nullptr : fake_iptables_batch);
        fake_vendor().batch_result = how == REFUSED_BATCH ? -1 : 0;
    }

    // The exit status of "nimbractl WORD" or of "nimbra-repair".
    int run(std::string word) {
        char *argv[] = {&word[0], nullptr, nullptr};
        std::string program = "nimbractl";
        if (word == "nimbra-repair") return capture([&] { return nimbra_repair_main(1, argv); });
        argv[0] = &program[0], argv[1] = &word[0];
        return capture([&] { return nimbractl_main(2, argv); });
    }

    kernel model;
    // Invariants broken; changes sent (vendor calls, batch and ipset lines);
    // those the kernel refused one by one.
    std::vector<std::string> faults, sent;
    std::multiset<std::string> refused;
    int saves = 0;  // iptables-save and ip6tables-save runs
};

// The sent changes are the echoed ones, in order within each table; an echo
// without one is a change that the batch left out as bound to fail, and
// which failed when sent one by one.
void expect_sent_as_echoed(const std::vector<std::string> &echoed, const std::vector<std::string> &sent,
                           std::multiset<std::string> refused) {
    auto table_of = [](const std::string &change) { return change.substr(0, change.find(' ', change.find(" -t ") + 4)); };
    std::map<std::string, std::vector<std::string>> sent_to;
    std::map<std::string, size_t> matched;
    for (const std::string &change : sent) sent_to[table_of(change)].push_back(change);
    for (const std::string &change : echoed) {
        const std::vector<std::string> &table = sent_to[table_of(change)];
        size_t &next = matched[table_of(change)];
        if (next < table.size() && table[next] == change)
            ++next;
        else if (refused.count(change))
            refused.erase(refused.find(change));
        else
            ADD_FAILURE() << "echoed, not sent: " << change;
    }
    for (const auto &table : sent_to) EXPECT_EQ(matched[table.first], table.second.size()) << table.first;
}

std::string without(const std::string &text, const std::string &start) {
    std::string kept;
    for (const std::string &line : lines_of(text))
        if (line.compare(0, start.size(), start) != 0) kept += line + "\n";
    return kept;
}

TEST_P(invariants, hold_over_every_command_and_renderer) {
    std::string after_start;
    std::vector<std::string> echoed_one_by_one;
    for (renderer how : {ONE_BY_ONE, BATCH, REFUSED_BATCH}) {
        SCOPED_TRACE(how);
        const std::string root = dir / std::to_string(how), log = GetParam().stderr_of_start;
        fresh_router(root, how);
        const std::string before = model.dump(), no = how == REFUSED_BATCH ? "The iptables batch was refused; applying "
            "its changes one at a time\nThe ip6tables batch was refused; applying its changes one at a time\n" : "";
        std::vector<std::string> echoed;
        sent.clear();
        // Each command, what comes before it, its exit status, first line
        // and standard error; after each but stop the packet filter is as
        // start left it.
        const char *starting = "Starting Nimbra ...\n", *stopping = "Stopping Nimbra services ...\n";
        const struct { const char *word; std::function<void()> before; int status; const char *first; std::string err; }
            steps[] = {
            {"start", [] {}, 0, starting, log + no},
            {"start", [&] { unlink((root + "/ram/status/nimbra_running").c_str()); }, 0, starting, log + no},
            {"nimbra-repair", [] {}, how == REFUSED_BATCH, "Repairing Nimbra network state ...\n", no},
            // A firewall reload took the agent's chains and rules away.
            {"nimbra-repair", [&] { router_chains(); }, how == REFUSED_BATCH, "Repairing Nimbra", no},
            // Only the hook whose name is part of the other's.
            {"nimbra-repair", [&] { unhook("-j NIMBRA_NAT"); }, how == REFUSED_BATCH, "Repairing Nimbra", no},
            // After a reload, stop has only the router's own chains to flush.
            {"restart", [&] { router_chains(); }, 0, stopping, (GetParam().router_owns_chains ? no : "") + log + no},
            // Reset waits, a second at a time, for a start that is under way.
            {"reset", [&] { write_text(root + "/ram/status/nimbra_starting", "");
                            on_sleep() = [&] { unlink((root + "/ram/status/nimbra_starting").c_str()); }; },
             0, "Resetting Nimbra ...\n", no + log + no},
            {"stop", [] {}, 0, stopping, no},
        };
        for (const auto &step : steps) {
            SCOPED_TRACE(step.word);
            step.before();
            saves = 0;
            EXPECT_EQ(run(step.word), step.status);
            EXPECT_LE(saves, 4);  // once a family per batch, two batches at most
            EXPECT_EQ(out.rfind(step.first, 0), 0u) << out;
            EXPECT_EQ(without(err, "Warning: '"), step.err);  // absent settings are named
            for (const std::string &line : lines_of(out))
                if (line.compare(0, 4, "--> ") == 0) echoed.push_back(line.substr(4));
            if (after_start.empty()) after_start = model.dump();
            EXPECT_TRUE(step.word == std::string("stop") || model.dump() == after_start) << model.dump();
            for (const std::string &set : model.sets)
                EXPECT_TRUE(model.names_set(set) || kDaemonSets.count(set)) << "unused set " << set;
        }
        // Stop leaves the router's own rules and no set; the agent's chains
        // stay, empty.
        EXPECT_EQ(without(model.dump(), "-N "), without(before, "-N "));
        EXPECT_EQ(faults, std::vector<std::string>{});
        if (how == ONE_BY_ONE) {
            EXPECT_EQ(echoed, sent);
            echoed_one_by_one = echoed;
        } else {
            EXPECT_EQ(echoed, echoed_one_by_one);  // the renderer changes nothing printed
            expect_sent_as_echoed(echoed, sent, refused);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(variants, invariants, testing::ValuesIn(kVariants),
                         [](const testing::TestParamInfo<variant> &info) { return std::string(info.param.name); });

}  // namespace
