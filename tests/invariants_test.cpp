// What start, stop, restart and nimbra-repair always leave true, stated once
// over the recorded run of every rule-table variant with every renderer. The
// fake vendor library and the recorded ipset and listing commands act on a
// small model of the kernel's tables and IP sets, so that a second start and a
// repair see what the first left.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "firewall/batch.h"
#include "nimbractl/dispatch.h"
#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

const char *const kTables[] = {"filter", "nat", "mangle"};
const std::set<std::string> kBuiltins = {"INPUT", "FORWARD", "OUTPUT", "PREROUTING", "POSTROUTING"};
// Jump targets that are no chain.
const std::set<std::string> kTargets = {"ACCEPT", "DROP", "REJECT", "DNAT", "TPROXY", "MARK", "RETURN"};
// Created by start for the agent's daemons, which use them on their own: no
// rule of the program names them.
const std::set<std::string> kDaemonSets = {"whitelist-net", "whitelist-ip", "torlist",
                                           "whitelist-ip6", "torlistv6", "managedlistv6"};

std::string word_after(const std::string &text, const std::string &option) {
    const size_t at = text.find(option);
    if (at == std::string::npos) return "";
    const size_t start = at + option.size();
    return text.substr(start, text.find(' ', start) - start);
}

// The kernel's packet filter (chains and their rules, by family and table)
// and IP sets. A refused change changes nothing; one that breaks an
// invariant is also named in faults.
struct kernel {
    std::map<std::string, std::vector<std::string>> chains[2][3];
    std::set<std::string> sets;

    bool names_set(const std::string &set) const {
        for (const auto &family : chains)
            for (const auto &table : family)
                for (const auto &chain : table)
                    for (const std::string &rule : chain.second)
                        if (word_after(rule, "--match-set ") == set) return true;
        return false;
    }

    bool change(int family, const std::string &table, const std::string &op, const std::string &chain,
                std::string rule, std::vector<std::string> &faults) {
        int t = 0;
        while (t < 3 && table != kTables[t]) ++t;
        if (t == 3) return false;
        auto &all = chains[family][t];
        const bool exists = all.count(chain) || kBuiltins.count(chain);
        const std::string what = std::to_string(family) + " " + table + " " + op + " " + chain + " " + rule;
        if (op == "-N") return !exists && (all[chain], true);
        if (!exists) {
            if (op == "-A" || op == "-I") faults.push_back("a rule before its chain: " + what);
            return false;
        }
        auto &rules = all[chain];
        if (op == "-F") return rules.clear(), true;
        if (op == "-D") {
            for (auto it = rules.begin(); it != rules.end(); ++it)
                if (*it == rule) return rules.erase(it), true;
            return false;
        }
        const std::string target = word_after(rule, "-j "), set = word_after(rule, "--match-set ");
        if (!target.empty() && !kTargets.count(target) && !all.count(target))
            faults.push_back("a jump before its chain: " + what);
        if (!set.empty() && !sets.count(set)) faults.push_back("a rule before its set: " + what);
        size_t at = op == "-A" ? rules.size() : 0;
        if (op == "-I" && isdigit(static_cast<unsigned char>(rule[0]))) {
            at = std::min<size_t>(std::stoul(rule) - 1, rules.size());
            rule.erase(0, rule.find(' ') + 1);
        }
        rules.insert(rules.begin() + at, rule);
        return true;
    }

    // "ipset create NAME OPTIONS", "ipset -X NAME", and their restore lines.
    bool ipset(const std::string &command, std::vector<std::string> &faults) {
        std::istringstream words(command);
        std::string op, name;
        words >> op >> name;
        if (op == "create") return sets.insert(name).second;
        if (op == "-X" || op == "destroy") {
            if (names_set(name)) faults.push_back("a set destroyed while a rule names it: " + name);
            return !names_set(name) && sets.erase(name);
        }
        return false;
    }

    // As "iptables -t TABLE -S" lists it, or "iptables-save" for the family.
    std::string listing(int family, int table, bool save) const {
        std::string text = save ? std::string("*") + kTables[table] + "\n" : "";
        for (const auto &chain : chains[family][table])
            if (!kBuiltins.count(chain.first)) text += (save ? ":" : "-N ") + chain.first + (save ? " - [0:0]\n" : "\n");
        for (const auto &chain : chains[family][table])
            for (const std::string &rule : chain.second) text += "-A " + chain.first + " " + rule + "\n";
        return text + (save ? "COMMIT\n" : "");
    }

    std::string dump() const {
        std::string text;
        for (int family = 0; family < 2; ++family)
            for (int table = 0; table < 3; ++table) text += listing(family, table, false);
        for (const std::string &set : sets) text += "set " + set + "\n";
        return text;
    }
};

// A change as the echo line and the vendor library see it.
std::string change_text(int family, const std::string &table, const std::string &op, const std::string &chain,
                        const std::string &rule) {
    return std::string(family ? "ip6tables" : "iptables") + " -t " + table + " " + op + " " + chain + " " + rule;
}

struct variant {
    const char *name, *ifnames;
    const char *settings;  // beside the directories, interfaces and accelerator
    bool router_owns_chains;
    const char *stderr_of_start;
};

const variant kVariants[] = {
    // Only what start cannot do without: every switch at its default,
    // service logging off.
    {"defaults", "lo", "", false, "Nimbra-Agent service logging is disabled\n"},
    {"router_chains", "lo", "[iptables]\nchains_handled_by_router=1\n[nimbra_log]\nmax_log_size=2000000\n", true, ""},
    {"tproxy", "lo", "[iptables]\nuse_tproxy_ipv6=1\n[nimbra_ports]\ndnsmasq_port=53\nrouter_dnsmasq_port=5353\n"
               "[nimbra_log]\nmax_log_size=2000000\n", false, ""},
    {"two_interfaces", "lo lo", "[nimbra_log]\nmax_log_size=2000000\n", false, ""},
    {"tproxy_two", "lo lo", "[iptables]\nuse_tproxy_ipv6=1\n[nimbra_ports]\ndnsmasq_port=53\n"
                   "router_dnsmasq_port=5353\n", false, "Nimbra-Agent service logging is disabled\n"},
};

void PrintTo(const variant &v, std::ostream *os) { *os << v.name; }

enum renderer { ONE_BY_ONE, BATCH, REFUSED_BATCH };
const char *const kRenderers[] = {"one by one", "batch", "refused batch"};

const char kRefusals[] = "The iptables batch was refused; applying its changes one at a time\n"
                         "The ip6tables batch was refused; applying its changes one at a time\n";

class invariants : public agent_test, public testing::WithParamInterface<variant> {
protected:
    void SetUp() override {
        agent_test::SetUp();
        recorder.answer = [this](const std::string &command) { return listing(command); };
        recorder.run = [this](const std::string &command) { return run_command(command); };
        fake_vendor().on_iptables = [this](const fake_iptables_call &c) {
            sent.push_back(change_text(c.family, c.table, c.operation, c.chain, c.rule));
            // The kernel's answer is the vendor library's result.
            const bool done = model.change(c.family, c.table, c.operation, c.chain, c.rule, faults);
            fake_vendor().iptables_result = done ? 0 : -1;
            if (!done) refused.push_back(sent.back());
        };
        fake_vendor().on_batch = [this](const fake_batch &b) { return apply_batch(b); };
        if_inet6_fixture() = "fe800000000000000000000000000001 01 40 20 80       lo\n";
    }

    // A router with no agent state, its files under root.
    void fresh_router(const std::string &root, renderer how) {
        model = kernel{};
        router_chains();
        files(root, how);
    }

    // The router's packet filter without the agent's chains and rules (the
    // IP sets stay), with the router's own chains and hooks when it owns
    // them.
    void router_chains() {
        for (auto &family : model.chains)
            for (auto &table : family) table.clear();
        if (GetParam().router_owns_chains) {
            for (int family = 0; family < 2; ++family) {
                model.chains[family][0] = {{"FORWARD", {"-j NIMBRA_FILTERS"}}, {"INPUT", {"-j NIMBRA_INPUT"}},
                                           {"NIMBRA_FILTERS", {}}, {"NIMBRA_INPUT", {}}};
                model.chains[family][1] = {{"PREROUTING", {"-j NIMBRA_NAT", "-j NIMBRA_NAT_FILTERED"}},
                                           {"NIMBRA_NAT", {}}, {"NIMBRA_NAT_FILTERED", {}}};
            }
        }
    }

    void files(const std::string &root, renderer how) {
        for (const char *sub : {"base/shares/usr/bin/scripts", "ram/status", "data", "db", "log"})
            std::filesystem::create_directories(root + "/" + sub);
        write_text(root + "/ram/MAC", "00:00:00:00:00:01");
        write_text(root + "/base/shares/usr/bin/runsvdir", "");
        chmod((root + "/base/shares/usr/bin/runsvdir").c_str(), 0755);
        use_config(dir, "[nimbra_path]\nbase=" + root + "/base\nramdisk=" + root + "/ram\ndata=" + root +
                            "/data\ndb=" + root + "/db\nlog=" + root + "/log\n[network]\nifnames=" + GetParam().ifnames +
                            "\n[hwa_flow]\nraise_supported=1\nflush_interval=10\n" + GetParam().settings);
        set_vendor_iptables_batch(how == ONE_BY_ONE ? nullptr : fake_iptables_batch);
        fake_vendor().batch_result = how == REFUSED_BATCH ? -1 : 0;
        running = root + "/ram/status/nimbra_running";
    }

    std::string listing(const std::string &command) {
        const int family = command.compare(0, 3, "ip6") == 0;
        if (command.find("tables-save") != std::string::npos) {
            std::string text;
            for (int table = 0; table < 3; ++table) text += model.listing(family, table, true);
            return text;
        }
        for (int table = 0; table < 3; ++table)
            if (command == std::string(family ? "ip6tables" : "iptables") + (table ? std::string(" -t ") + kTables[table] : "") + " -S")
                return model.listing(family, table, false);
        return "";
    }

    int run_command(const std::string &command) {
        const std::string restore = "ipset -exist restore <<'EOF'\n";
        if (command.compare(0, restore.size(), restore) == 0) {
            std::istringstream lines(command.substr(restore.size()));
            for (std::string line; std::getline(lines, line) && line != "EOF";) {
                sent.push_back(line.compare(0, 7, "create ") == 0 ? "ipset " + line : "ipset -X " + line.substr(8));
                if (!model.ipset(line, faults) && line.compare(0, 7, "create ") != 0) return 1;
            }
            return 0;
        }
        if (command.compare(0, 6, "ipset ") != 0) return 0;
        sent.push_back(command);
        return model.ipset(command.substr(6), faults) ? 0 : 1;
    }

    // iptables-restore --noflush: all or nothing; a chain declared again is
    // emptied.
    int apply_batch(const fake_batch &batch) {
        kernel after = model;
        std::vector<std::string> lines_sent;
        std::istringstream lines(batch.text);
        std::string table;
        bool applied = true;
        for (std::string line; std::getline(lines, line);) {
            if (line[0] == '*') {
                table = line.substr(1);
            } else if (line[0] == ':') {
                const std::string chain = line.substr(1, line.find(' ') - 1);
                if (!after.change(batch.family, table, "-F", chain, "", faults))
                    after.change(batch.family, table, "-N", chain, "", faults);
                lines_sent.push_back(change_text(batch.family, table, "-N", chain, ""));
            } else if (line != "COMMIT") {
                std::istringstream words(line);
                std::string op, chain, rule;
                words >> op >> chain;
                std::getline(words >> std::ws, rule);
                applied = after.change(batch.family, table, op, chain, rule, faults) && applied;
                lines_sent.push_back(change_text(batch.family, table, op, chain, rule));
            }
        }
        if (!applied || fake_vendor().batch_result < 0) return -1;
        model = after;
        sent.insert(sent.end(), lines_sent.begin(), lines_sent.end());
        return 0;
    }

    // Runs one command word ("nimbra-repair" for the repair program); its
    // exit status.
    int run(const char *word) {
        std::vector<const char *> args = {std::string(word) == "nimbra-repair" ? "nimbra-repair" : "nimbractl"};
        if (args[0] != std::string(word)) args.push_back(word);
        args.push_back(nullptr);
        char **argv = const_cast<char **>(args.data());
        const int argc = static_cast<int>(args.size() - 1);
        const bool repair = argc == 1;
        return capture([&] { return repair ? nimbra_repair_main(argc, argv) : nimbractl_main(argc, argv); });
    }

    kernel model;
    // Invariants broken, changes sent (vendor calls, batch and ipset
    // lines), changes the kernel refused one by one.
    std::vector<std::string> faults, sent, refused;
    std::string running;
};

// The echo lines of out, without "--> ".
std::vector<std::string> echoes(const std::string &out) {
    std::vector<std::string> found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, 4, "--> ") == 0) found.push_back(line.substr(4));
    return found;
}

// The sent changes are the echoed ones in order, but for changes that the
// batch left out as bound to fail, which failed when sent one by one.
void expect_sent_as_echoed(const std::vector<std::string> &echoed, const std::vector<std::string> &sent,
                           const std::vector<std::string> &refused) {
    std::map<std::string, std::vector<std::string>> by_table_sent, by_table_echoed;
    // A batch holds a family's tables one after the other: "iptables -t
    // nat", ..., or "ipset".
    auto table_of = [](const std::string &change) {
        return change.compare(0, 6, "ipset ") == 0 ? "ipset" : change.substr(0, change.find(' ', change.find("-t ") + 3));
    };
    for (const std::string &change : sent) by_table_sent[table_of(change)].push_back(change);
    std::multiset<std::string> may_miss(refused.begin(), refused.end());
    for (const std::string &change : echoed) by_table_echoed[table_of(change)].push_back(change);
    for (auto &table : by_table_echoed) {
        const std::vector<std::string> &out = by_table_sent[table.first];
        size_t next = 0;
        for (const std::string &change : table.second) {
            if (next < out.size() && out[next] == change) {
                ++next;
            } else if (may_miss.count(change)) {
                may_miss.erase(may_miss.find(change));
            } else {
                ADD_FAILURE() << "echoed, not sent: " << change;
                return;
            }
        }
        if (next != out.size()) {
            ADD_FAILURE() << "sent, not echoed: " << out[next];
            return;
        }
    }
}

// Standard error without the accessors' lines about absent settings.
std::string without_warnings(const std::string &err) {
    std::string kept;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, 10, "Warning: '") != 0) kept += line + "\n";
    return kept;
}

// The rules and sets of a dump, without the (empty) chains.
std::string rules_and_sets(const std::string &dump) {
    std::string kept;
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, 3, "-N ") != 0) kept += line + "\n";
    return kept;
}

TEST_P(invariants, hold_over_every_command_and_renderer) {
    std::string after_start;
    std::vector<std::string> echoed_one_by_one;
    for (renderer how : {ONE_BY_ONE, BATCH, REFUSED_BATCH}) {
        SCOPED_TRACE(kRenderers[how]);
        const std::string root = dir / std::to_string(how);
        fresh_router(root, how);
        const std::string before = model.dump(), logging = GetParam().stderr_of_start;
        const std::string refusals = how == REFUSED_BATCH ? kRefusals : "";
        std::vector<std::string> echoed;
        sent.clear();
        // Each command, what comes before it, its exit status and standard
        // error, and whether the packet filter is then as start left it.
        const struct { const char *word; std::function<void()> before; int status; std::string err; bool as_started; }
            steps[] = {
            {"start", [] {}, 0, logging + refusals, true},
            // A start over its own rule set adds nothing.
            {"start", [&] { unlink(running.c_str()); }, 0, logging + refusals, true},
            {"nimbra-repair", [] {}, how == REFUSED_BATCH, refusals, true},
            // A firewall reload took the agent's chains and rules away.
            {"nimbra-repair", [&] { router_chains(); }, how == REFUSED_BATCH, refusals, true},
            {"restart", [] {}, 0, refusals + logging + refusals, true},
            {"stop", [] {}, 0, refusals, false},
        };
        for (const auto &step : steps) {
            SCOPED_TRACE(step.word);
            step.before();
            EXPECT_EQ(run(step.word), step.status);
            EXPECT_EQ(without_warnings(err), step.err);
            const std::vector<std::string> lines = echoes(out);
            echoed.insert(echoed.end(), lines.begin(), lines.end());
            if (step.as_started && after_start.empty()) {
                after_start = model.dump();
                for (const std::string &set : model.sets)
                    EXPECT_TRUE(model.names_set(set) || kDaemonSets.count(set)) << "unused set " << set;
            }
            if (step.as_started) {
                EXPECT_EQ(model.dump(), after_start);
            }
        }
        // Stop leaves the router's own rules and no set; the agent's chains
        // stay, empty.
        EXPECT_EQ(rules_and_sets(model.dump()), rules_and_sets(before));
        EXPECT_EQ(faults, std::vector<std::string>{});
        if (how == ONE_BY_ONE) {
            EXPECT_EQ(echoed, sent);
            echoed_one_by_one = echoed;
        } else {
            // The renderer changes nothing that is printed.
            EXPECT_EQ(echoed, echoed_one_by_one);
            expect_sent_as_echoed(echoed, sent, refused);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(variants, invariants, testing::ValuesIn(kVariants),
                         [](const testing::TestParamInfo<variant> &info) { return std::string(info.param.name); });

}  // namespace
