#include "nimbractl/dispatch.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio_ext.h>

#include <algorithm>
#include <vector>

#include "tests/test_support.h"
#include "util/files.h"

namespace {

class dispatch : public agent_test {
protected:
    int run(std::vector<const char *> args) {
        args.insert(args.begin(), "nimbractl");
        args.push_back(nullptr);
        char **argv = const_cast<char **>(args.data());
        return capture([&] { return nimbractl_main(static_cast<int>(args.size() - 1), argv); });
    }
};

// Each word by its exit status, the start of what it prints and a later
// line; only argv[2] asks for JSON, in any case. Everything it runs is
// recorded. Each word makes the ram directory first.
TEST_F(dispatch, each_word_runs_its_command) {
    // Without a configuration the export fails: no usage text, nothing run.
    EXPECT_EQ(run({"start"}), 1);
    EXPECT_NE(err.find("Error while setting Nimbra environment variables\n"), std::string::npos) << err;
    EXPECT_TRUE(out.empty() && test_events().empty());
    use_config(dir, tree_ini() + "[network]\nifnames=br0\n");
    const char kUsage[] = "nimbractl <command>\n", kUsageEnd[] = "JSON format\n------------------------------"
                                                                  "-------------------\n";
    const struct { std::vector<const char *> args; int status; const char *first, *later; } cases[] = {
        {{}, 1, kUsage, kUsageEnd},      {{"help"}, 1, kUsage, kUsageEnd},  {{"-h"}, 1, kUsage, kUsageEnd},
        {{"Start"}, 1, kUsage, kUsageEnd}, {{"bogus", "status"}, 1, kUsage, kUsageEnd},
        {{"start"}, 0, "Starting Nimbra ...\n", "Can't find Nimbra root directory"},
        {{"stop"}, 0, "Stopping Nimbra services ...\n", "Nimbra stopped.\n"},
        {{"restart"}, 0, "Stopping Nimbra services ...\n", "Starting Nimbra ...\n"},
        {{"status"}, 0, "---", "Nimbra Running: false\n"},
        {{"status", "-J"}, 0, "{\"nimbra-running\":\"false\"", "}\n"},
        {{"status", "x", "-j"}, 0, "---", "Nimbra Running: false\n"},
        {{"version", "-j"}, 0, "{\"agent-version\":\"\"", "\"platformdb-version\":\"\"}\n"},
        {{"version", "-h"}, 0, "\n---", "Nimbra Agent Version: \n"},
        {{"pfc"}, 0, "*** Nimbra Vendor Library Conformance Tests ***\n",
         "Nimbra Agent not started, pre-flight check failed!\n"},
    };
    for (const auto &c : cases) {
        std::filesystem::remove_all(dir / "ram");
        EXPECT_EQ(run(c.args), c.status) << c.first;
        EXPECT_EQ(out.rfind(c.first, 0), 0u) << out;
        EXPECT_NE((out + err).find(c.later), std::string::npos) << out << err;
        EXPECT_TRUE(is_directory((dir / "ram").c_str())) << c.first;
    }
    // The words that change the router's state outlive a dropped terminal.
    struct sigaction hangup;
    EXPECT_TRUE(sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler != SIG_DFL);
    // A reset already under way: the reset word ends after its first lines.
    write_text(dir / "ram/nimbra_resetting", "");
    EXPECT_EQ(run({"reset"}), 0);
    EXPECT_EQ(out, "Resetting Nimbra ...\nnimbra agent is resetting, no op\n");
    // A running marker that stop cannot remove (here a directory) is waited
    // for three seconds, not forever.
    std::filesystem::create_directories(dir / "ram/status/nimbra_running/x");
    on_sleep() = [] { EXPECT_EQ(__fpending(stdout), 0u) << "a wait line still buffered"; };
    EXPECT_EQ(run({"restart"}), 0);
    std::string waits;
    for (size_t at = 0; (at = out.find("waiting for nimbra to stop\n", at)) != std::string::npos; ++at) waits += "w";
    EXPECT_EQ(waits, "www") << out;
    EXPECT_EQ(std::count(test_events().begin(), test_events().end(), "sleep: 1"), 3);  // a second each
}

}  // namespace
