#include "firewall/command.h"

#include <gtest/gtest.h>

#include "tests/fake_vendor.h"

namespace {

TEST(apply_iptables_rule, echoes_then_passes_five_values) {
    reset_fake_vendor();
    fake_vendor().iptables_result = -7;
    testing::internal::CaptureStdout();
    EXPECT_EQ(apply_iptables_rule("filter", "-F", "NIMBRA_FILTERS", nullptr, FAMILY_IPV6), -7);
    EXPECT_EQ(apply_iptables_rule("nat", "-I", "NIMBRA_INPUT", "1 -p udp --dport 5300 -j ACCEPT", FAMILY_IPV4), -7);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "--> ip6tables -t filter -F NIMBRA_FILTERS \n"
              "--> iptables -t nat -I NIMBRA_INPUT 1 -p udp --dport 5300 -j ACCEPT\n");
    const auto &calls = fake_vendor().iptables_calls;
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_FALSE(calls[0].has_rule);  // an absent rule reaches the vendor as NULL
    EXPECT_EQ(calls[0].family, FAMILY_IPV6);
    EXPECT_EQ(calls[1].rule, "1 -p udp --dport 5300 -j ACCEPT");
    EXPECT_EQ(calls[1].family, FAMILY_IPV4);
}

}  // namespace
