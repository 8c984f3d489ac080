#include "lifecycle/stop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "tests/fake_vendor.h"
#include "tests/test_support.h"
#include "util/files.h"

namespace {

struct stop_case {
    const char *name;
    const char *log_line;  // "" when nimbra_path.log is unset
    const char *network;
};

TEST(stop_agent, undoes_start_for_first_interface_only) {
    const stop_case cases[] = {
        {"two_interfaces", "log=/tmp/nimbra-test-log\n", "ifnames=br0 br1\n"},
        {"no_log_setting", "", "ifnames=br0\n"},
    };
    for (const stop_case &c : cases) {
        temp_dir dir;
        reset_fake_vendor();
        mkdir((dir / "ram").c_str(), 0755);
        mkdir((dir / "ram/status").c_str(), 0755);
        write_text(dir / "ram/status/nimbra_running", "");
        write_text(dir / "ram/status/nimbra_starting", "");
        use_config(dir, "[nimbra_path]\nramdisk=" + dir / "ram" + "\n" + c.log_line + "[network]\n" +
                            c.network);
        process_recorder recorder;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(stop_agent(), 0);
        std::string out = testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();

        std::vector<std::string> expected = {"rm -rf /var/service", "killall -s SIGHUP runsvdir"};
        if (*c.log_line) expected.push_back("rm -rf /tmp/nimbra-test-log");
        std::vector<std::string> runs = recorder.runs();
        ASSERT_GE(runs.size(), expected.size() + 17) << c.name;
        EXPECT_EQ(std::vector<std::string>(runs.begin(), runs.begin() + expected.size()), expected);
        const std::vector<std::string> tail = {
            "ipset -X managedlistv6",
            "ifconfig br0:0 down",
            "ip addr del fd22:9464:dfb8::1/64 dev br0",
            "route del -net 224.0.0.0 netmask 224.0.0.0 br0",
            "rm -rf " + dir / "ram/status/",
        };
        EXPECT_EQ(std::vector<std::string>(runs.end() - tail.size(), runs.end()), tail) << c.name;
        EXPECT_EQ(events_with("system: ipset -X ").size(), 13u);
        EXPECT_FALSE(file_exists((dir / "ram/status/nimbra_running").c_str()));
        EXPECT_EQ(out.rfind("Stopping Nimbra services ...\nClean up ...\n", 0), 0u) << out;
        EXPECT_EQ(out.substr(out.size() - 16), "Nimbra stopped.\n");
        reset_nimbra_config_cache();
    }
}

}  // namespace
