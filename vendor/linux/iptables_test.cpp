#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <sstream>

#include "nimbra_vendor.h"
#include "tests/temp_dir.h"

namespace {

// The rule is cut to 1023 characters and split at blanks and tabs, with no
// shell between: each word is one argument, to the last. Fake iptables and
// ip6tables record their arguments and exit with status (none below 0).
TEST(nimbra_run_iptables_command, runs_the_tool_with_the_rule_split_into_words) {
    std::string longest, words;
    for (int i = 0; i < 511; ++i) longest += "w ", words += " w";
    const struct { int status, family; const char *table; std::string rule; int result; std::string ran; } cases[] = {
        {0, 0, "filter", " -p tcp  --dport\t80 -j ACCEPT ", 0, "iptables -w -t filter -A C -p tcp --dport 80 -j ACCEPT"},
        {0, 1, "nat", "", 0, "ip6tables -w -t nat -A C"},
        {0, 0, "nat", longest + "xyz", 0, "iptables -w -t nat -A C" + words + " x"},
        {1, 1, "nat", "-j X", -1, "ip6tables -w -t nat -A C -j X"},
        {-1, 0, "nat", "-j X", -1, ""},
        {0, 0, nullptr, "-j X", -1, ""},
    };
    temp_dir bin;
    const std::string path = getenv("PATH");
    setenv("PATH", bin.path.c_str(), 1);  // only the fakes: no test reaches the real firewall
    for (const auto &c : cases) {
        for (const std::string tool : {"iptables", "ip6tables"}) {
            std::filesystem::remove(bin / tool + ".args");
            write_text(bin / tool, "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$0.args\"\nexit " + std::to_string(c.status));
            chmod((bin / tool).c_str(), c.status < 0 ? 0 : 0755);
        }
        EXPECT_EQ(nimbra_run_iptables_command(c.table, "-A", "C", c.rule.empty() ? nullptr : c.rule.c_str(), c.family),
                  c.result) << c.ran;
        std::string ran;
        for (const std::string tool : {"iptables", "ip6tables"}) {
            std::istringstream args(read_text(bin / tool + ".args"));
            for (std::string arg; std::getline(args, arg);) ran += (ran.empty() ? tool + " " : " ") + arg;
        }
        EXPECT_EQ(ran, c.ran);
    }
    signal(SIGCHLD, SIG_IGN);  // as a parent may leave it: no status to learn, so no success
    EXPECT_EQ(nimbra_run_iptables_command("nat", "-A", "C", "-j X", 0), -1);
    signal(SIGCHLD, SIG_DFL);
    setenv("PATH", path.c_str(), 1);
}

// The batch goes whole to iptables-restore (ip6tables-restore) -w --noflush
// on its standard input; a tool that is missing, fails or stops reading
// early refuses it, and the caller lives on (no SIGPIPE).
TEST(nimbra_run_iptables_batch, hands_the_batch_to_the_restore_tool) {
    const std::string large(1 << 20, '\n');
    // The fake tool's script after its first line, the batch, the family,
    // the result and what the tool read.
    const struct { const char *script; std::string batch; int family, result; std::string read; } cases[] = {
        {"/bin/cat >\"$0.in\"; echo \"$@\" >>\"$0.in\"", "*nat\nCOMMIT\n", 1, 0, "*nat\nCOMMIT\n-w --noflush\n"},
        {"/bin/cat >\"$0.in\"; exit 1", "*nat\n", 0, -1, "*nat\n"},
        {"exit 0", large, 0, -1, ""},
        {nullptr, "*nat\n", 0, -1, ""},
    };
    temp_dir bin;
    const std::string path = getenv("PATH");
    setenv("PATH", bin.path.c_str(), 1);
    const long descriptors = open_descriptors();  // none left open at the end
    for (const auto &c : cases) {
        const std::string tool = bin / (c.family ? "ip6tables-restore" : "iptables-restore");
        std::filesystem::remove(tool);
        std::filesystem::remove(tool + ".in");
        if (c.script) write_text(tool, std::string("#!/bin/sh\n") + c.script + "\n");
        chmod(tool.c_str(), 0755);
        EXPECT_EQ(nimbra_run_iptables_batch(c.batch.c_str(), c.family), c.result) << c.script;
        EXPECT_EQ(read_text(tool + ".in"), c.read);
    }
    EXPECT_EQ(nimbra_run_iptables_batch(nullptr, 0), -1);
    EXPECT_EQ(open_descriptors(), descriptors);
    setenv("PATH", path.c_str(), 1);
}

}  // namespace
