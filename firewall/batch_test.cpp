#include "firewall/batch.h"

#include <gtest/gtest.h>

#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

class firewall_batch : public agent_test {
protected:
    void SetUp() override {
        agent_test::SetUp();
        set_vendor_iptables_batch(fake_iptables_batch);
        recorder.output["iptables-save"] = "# saved\n*filter\n:FORWARD ACCEPT [1:2]\n:A - [0:0]\n:AB - [0:0]\n"
                                           "-A FORWARD -j AB\n-A FORWARD -j A\n-A A -j DROP\nCOMMIT\n*nat\n:PREROUTING ACCEPT [0:0]\nCOMMIT\n";
    }
    // Each change of the table in a batch, then the commit.
    int apply(std::initializer_list<std::array<const char *, 4>> changes) {
        EXPECT_TRUE(begin_firewall_batch());
        for (const auto &c : changes) {
            const int result = apply_iptables_rule(c[0], c[1], c[2], c[3], FAMILY_IPV4);
            results += result == 0 ? "+" : "-";
        }
        return commit_firewall_batch();
    }
    std::string results;
};

TEST_F(firewall_batch, leaves_out_what_would_fail_and_commits_the_rest_at_once) {
    capture([&] {
        return apply({{"filter", "-N", "A", nullptr},                 // exists
                      {"filter", "-N", "B", nullptr},
                      {"filter", "-F", "C", nullptr},                 // no such chain
                      {"filter", "-F", "A", nullptr},
                      {"filter", "-D", "FORWARD", "-j A"},
                      {"filter", "-D", "FORWARD", "-j A"},            // gone, though "-j AB" holds it
                      {"filter", "-D", "FORWARD", "-j AB"},
                      {"filter", "-I", "FORWARD", "-j A"},
                      {"filter", "-A", "B", "-j ACCEPT"},
                      {"nat", "-A", "NIMBRA_NAT", "-j ACCEPT"}});      // no such chain
    });
    EXPECT_EQ(results, "-+-++-+++-");
    ASSERT_EQ(fake_vendor().batches.size(), 1u);
    EXPECT_EQ(fake_vendor().batches[0].family, FAMILY_IPV4);
    EXPECT_EQ(fake_vendor().batches[0].text,
              "*filter\n:B - [0:0]\n-F A\n-D FORWARD -j A\n-D FORWARD -j AB\n-I FORWARD -j A\n-A B -j ACCEPT\nCOMMIT\n");
    EXPECT_TRUE(fake_vendor().iptables_calls.empty());
    EXPECT_EQ(events_with("popen: "), std::vector<std::string>{"iptables-save"});
}

}  // namespace
