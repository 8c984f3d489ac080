#include "firewall/command.h"

#include <gtest/gtest.h>

#include "tests/fake_vendor.h"

namespace {

TEST(apply_iptables_rule, echoes_then_passes_five_values) {
    reset_fake_vendor();
    fake_vendor().iptables_result = -7;
    testing::internal::CaptureStdout();
    EXPECT_EQ(apply_iptables_rule("filter", "-F", "NIMBRA_FILTERS", nullptr, 1), -7);
    EXPECT_EQ(apply_nat_rule("-I", "NIMBRA_INPUT", "1 -p udp --dport 5300 -j ACCEPT", 0), -7);
    EXPECT_EQ(apply_mangle_rule("-A", "NIMBRA_DIVERT", "-j ACCEPT", 1), -7);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "--> ip6tables -t filter -F NIMBRA_FILTERS \n"
              "--> iptables -t nat -I NIMBRA_INPUT 1 -p udp --dport 5300 -j ACCEPT\n"
              "--> ip6tables -t mangle -A NIMBRA_DIVERT -j ACCEPT\n");
    const auto &calls = fake_vendor().iptables_calls;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_FALSE(calls[0].has_rule);  // an absent rule reaches the vendor as NULL
    EXPECT_EQ(calls[1].rule, "1 -p udp --dport 5300 -j ACCEPT");
    EXPECT_EQ(calls[1].family, 0);
    EXPECT_EQ(calls[2].family, 1);
}

}  // namespace
