#include <gtest/gtest.h>
#include <stdlib.h>
#include <stdio.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include "nimbra_vendor.h"
#include "tests/temp_dir.h"

namespace {

// Fake iptables and ip6tables that record their arguments and exit with
// status (no fake: status < 0); the arguments of the one that ran.
std::string run_fake(const temp_dir &bin, int status, const char *table, const char *rule, int family,
                     int *result) {
    for (const std::string tool : {"iptables", "ip6tables"}) {
        remove((bin / tool).c_str());
        remove((bin / tool + ".args").c_str());
        if (status < 0) continue;
        write_text(bin / tool, "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$0.args\"\nexit " + std::to_string(status));
        chmod((bin / tool).c_str(), 0755);
    }
    *result = nimbra_run_iptables_command(table, "-A", "CHAIN", rule, family);
    std::string ran;
    for (const std::string tool : {"iptables", "ip6tables"}) {
        std::istringstream args(read_text(bin / tool + ".args"));
        for (std::string arg; std::getline(args, arg);) ran += (ran.empty() ? tool + " " : " ") + arg;
    }
    return ran;
}

// The rule is cut to 1023 characters and split at blanks and tabs, with no
// shell between: every word is one argument, up to the last.
TEST(nimbra_run_iptables_command, runs_the_tool_with_the_rule_split_into_words) {
    std::string longest, words;
    for (int i = 0; i < 511; ++i) longest += "w ", words += " w";
    longest += "xyz";
    const struct {
        int status, family;
        const char *table;
        std::string rule;
        int result;
        std::string ran;
    } cases[] = {
        {0, 0, "filter", " -p tcp  --dport\t80 -j ACCEPT ", 0,
         "iptables -w -t filter -A CHAIN -p tcp --dport 80 -j ACCEPT"},
        {0, 1, "nat", "", 0, "ip6tables -w -t nat -A CHAIN"},
        {0, 0, "nat", longest, 0, "iptables -w -t nat -A CHAIN" + words + " x"},
        {1, 1, "nat", "-j X", -1, "ip6tables -w -t nat -A CHAIN -j X"},
        {-1, 0, "nat", "-j X", -1, ""},
        {0, 0, nullptr, "-j X", -1, ""},
    };
    temp_dir bin;
    const std::string saved_path = getenv("PATH");
    // Nothing but the fakes can be found: no test reaches the real firewall.
    setenv("PATH", bin.path.c_str(), 1);
    for (const auto &c : cases) {
        int result = 0;
        EXPECT_EQ(run_fake(bin, c.status, c.table, c.rule.empty() ? nullptr : c.rule.c_str(), c.family, &result),
                  c.ran);
        EXPECT_EQ(result, c.result) << c.ran;
    }
    setenv("PATH", saved_path.c_str(), 1);
}

}  // namespace
