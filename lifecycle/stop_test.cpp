#include "lifecycle/stop.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/test_support.h"
#include "util/files.h"

namespace {

using stop_agent_test = agent_test;

TEST_F(stop_agent_test, undoes_start_for_first_interface_only) {
    for (const char *log : {"log=/tmp/nimbra-test-log\n", ""}) {
        write_text(dir / "ram/status/nimbra_running", "");
        use_config(dir, "[nimbra_path]\nramdisk=" + dir / "ram" + "\n" + log +
                            "[network]\nifnames=br0 br1\n");
        test_events().clear();
        EXPECT_EQ(capture(stop_agent), 0);
        std::vector<std::string> head = {"rm -rf /var/service", "killall -s SIGHUP runsvdir"};
        if (*log) head.push_back("rm -rf /tmp/nimbra-test-log");
        const std::vector<std::string> tail = {
            "ipset -X managedlistv6", "ifconfig br0:0 down", "ip addr del fd22:9464:dfb8::1/64 dev br0",
            "route del -net 224.0.0.0 netmask 224.0.0.0 br0", "rm -rf " + dir / "ram/status/",
        };
        const std::vector<std::string> runs = recorder.runs();
        ASSERT_GE(runs.size(), head.size() + tail.size()) << log;
        EXPECT_EQ(std::vector<std::string>(runs.begin(), runs.begin() + head.size()), head);
        EXPECT_EQ(std::vector<std::string>(runs.end() - tail.size(), runs.end()), tail) << log;
        EXPECT_EQ(events_with("system: ipset -X ").size(), 13u);
        // The kernel keeps a set that a rule still names: chains go first.
        const std::vector<std::string> &events = test_events();
        const auto sets = std::find(events.begin(), events.end(), "system: ipset -X whitelist-net");
        for (auto event = sets; event != events.end(); ++event)
            EXPECT_NE(event->rfind("vendor: ", 0), 0u) << *event;
        EXPECT_FALSE(file_exists((dir / "ram/status/nimbra_running").c_str()));
        EXPECT_EQ(out.rfind("Stopping Nimbra services ...\nClean up ...\n", 0), 0u) << out;
        EXPECT_EQ(out.substr(out.size() - 16), "Nimbra stopped.\n");
    }
}

}  // namespace
