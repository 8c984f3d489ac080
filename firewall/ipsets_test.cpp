#include "firewall/ipsets.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// Runs one list; its commands must be echoed exactly as they are run.
std::vector<std::string> run_list(void (*list)()) {
    process_recorder recorder;
    testing::internal::CaptureStdout();
    list();
    std::string echo;
    for (const std::string &command : recorder.runs()) echo += "--> " + command + "\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), echo);
    return recorder.runs();
}

TEST(ip_sets, destroy_names_the_created_sets_in_order) {
    const std::vector<std::string> created = run_list(create_ip_sets), destroyed = run_list(destroy_ip_sets);
    ASSERT_EQ(created.size(), 13u);
    ASSERT_EQ(destroyed.size(), 13u);
    EXPECT_EQ(created[3], "ipset create torlist hash:ip hashsize 2048 maxelem 65536");
    EXPECT_EQ(created[8], "ipset create filteredv6 hash:ip,port,ip family inet6 timeout 60");
    for (size_t i = 0; i < created.size(); ++i)
        EXPECT_EQ(destroyed[i], "ipset -X " + created[i].substr(13, created[i].find(' ', 13) - 13));
}

}  // namespace
