#include "firewall/chains.h"

#include <gtest/gtest.h>

#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

class chains_test : public agent_test {
protected:
    void configure(const std::string &ini) {
        use_config(dir, ini + "[iptables]\nchains_handled_by_router=0\nuse_tproxy_ipv6=0\n");
        test_events().clear();
        fake_vendor().iptables_calls.clear();
    }
};

TEST_F(chains_test, teardown_flushes_and_unhooks_what_either_listing_shows) {
    const std::string flush = "filter -F PAUSE, filter -F FILTERED, filter -F UNMANAGED, "
                              "filter -F NIMBRA_FILTERS, filter -F NIMBRA_INPUT, ";
    const struct {
        const char *config;
        ip_family family;
        const char *v4, *v6, *nat4;  // listings
        std::string expected;        // after the five filter flushes
    } cases[] = {
        // The second nat hook's line also shows the first hook's needle.
        {"", FAMILY_IPV4, "-A FORWARD -j NIMBRA_FILTERS\n-A INPUT -j NIMBRA_INPUT\n", "",
         "-A PREROUTING -j NIMBRA_NAT_FILTERED\n",
         "?iptables -S, filter -D FORWARD -j NIMBRA_FILTERS, ?iptables -S, filter -D INPUT -j NIMBRA_INPUT, "
         "nat -F NIMBRA_NAT, nat -F NIMBRA_NAT_FILTERED, ?iptables -t nat -S, "
         "nat -D PREROUTING -j NIMBRA_NAT, nat -D PREROUTING -j NIMBRA_NAT_FILTERED"},
        {"[iptables]\nuse_tproxy_ipv6=1\n", FAMILY_IPV6, "-A FORWARD -j NIMBRA_FILTERS\n",
         "-A INPUT -j NIMBRA_INPUT\n", "",
         "?iptables -S, filter -D FORWARD -j NIMBRA_FILTERS, ?iptables -S, ?ip6tables -S, "
         "filter -D INPUT -j NIMBRA_INPUT, mangle -F NIMBRA_MANGLE, mangle -F NIMBRA_DIVERT, "
         "?ip6tables -t mangle -S"},
        // The router owns the hooks: the listings are still read.
        {"[iptables]\nchains_handled_by_router=1\n", FAMILY_IPV4, "-A FORWARD -j NIMBRA_FILTERS\n", "",
         "-A PREROUTING -j NIMBRA_NAT\n",
         "?iptables -S, ?iptables -S, ?ip6tables -S, nat -F NIMBRA_NAT, nat -F NIMBRA_NAT_FILTERED, "
         "?iptables -t nat -S"},
    };
    for (const auto &c : cases) {
        configure(c.config);
        recorder.output = {{"iptables -S", c.v4}, {"ip6tables -S", c.v6}, {"iptables -t nat -S", c.nat4}};
        capture([&] { teardown_chains(c.family); });
        EXPECT_EQ(event_sequence(true), flush + c.expected) << c.config;
    }
}

}  // namespace
