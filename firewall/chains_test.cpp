#include "firewall/chains.h"

#include <gtest/gtest.h>

#include "firewall/ipsets.h"
#include "firewall/ipv4_rules.h"
#include "firewall/ipv6_rules.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

// Recorded events, comma separated: "?listing" for a read, "table op chain
// [rule]" for a vendor call (family left out).
std::string sequence() {
    std::string text;
    for (const std::string &event : test_events())
        text += (text.empty() ? "" : ", ") +
                (event.compare(0, 7, "popen: ") == 0 ? "?" + event.substr(7)
                                                     : event.substr(8, event.size() - 12));
    return text;
}

class chains_test : public ::testing::Test {
protected:
    void SetUp() override { reset_fake_vendor(); }
    void TearDown() override { reset_nimbra_config_cache(); }
    void configure(const std::string &ini) {
        use_config(dir, ini + "[iptables]\nchains_handled_by_router=0\nuse_tproxy_ipv6=0\n");
        test_events().clear();
        fake_vendor().iptables_calls.clear();
    }
    temp_dir dir;
    process_recorder recorder;
};

TEST_F(chains_test, create_follows_switches_and_family) {
    const std::string verdict = "filter -N UNMANAGED, filter -N PAUSE, filter -N FILTERED";
    const std::string nat = "filter -N NIMBRA_FILTERS, nat -N NIMBRA_NAT, nat -N "
                            "NIMBRA_NAT_FILTERED, filter -N NIMBRA_INPUT, " + verdict;
    const std::string mangle = "filter -N NIMBRA_FILTERS, mangle -N NIMBRA_MANGLE, mangle -N "
                               "NIMBRA_DIVERT, filter -N NIMBRA_INPUT, " + verdict;
    const struct {
        const char *router, *tproxy;
        int family;
        const std::string &expected;
    } cases[] = {
        {"0", "0", 0, nat},     {"0", "0", 1, nat},     {"0", "1", 0, nat},
        {"0", "1", 1, mangle},  {"1", "0", 0, verdict}, {"1", "0", 1, verdict},
        {"1", "1", 0, verdict}, {"1", "1", 1, verdict},
    };
    for (const auto &c : cases) {
        configure(std::string("[iptables]\nchains_handled_by_router=") + c.router +
                  "\nuse_tproxy_ipv6=" + c.tproxy + "\n");
        testing::internal::CaptureStdout();
        create_chains(c.family);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(sequence(), c.expected) << c.router << c.tproxy << c.family;
        for (const fake_iptables_call &call : fake_vendor().iptables_calls)
            EXPECT_EQ(call.family, c.family);
    }
}

TEST_F(chains_test, teardown_flushes_and_unhooks_what_either_listing_shows) {
    const std::string flush = "filter -F PAUSE, filter -F FILTERED, filter -F UNMANAGED, "
                              "filter -F NIMBRA_FILTERS, filter -F NIMBRA_INPUT, ";
    const struct {
        const char *config;
        int family;
        const char *v4, *v6, *nat4;  // listings
        std::string expected;        // after the five filter flushes
    } cases[] = {
        // The second nat hook's line also shows the first hook's needle.
        {"", 0, "-A FORWARD -j NIMBRA_FILTERS\n-A INPUT -j NIMBRA_INPUT\n", "",
         "-A PREROUTING -j NIMBRA_NAT_FILTERED\n",
         "?iptables -S, filter -D FORWARD -j NIMBRA_FILTERS, ?iptables -S, filter -D INPUT -j "
         "NIMBRA_INPUT, nat -F NIMBRA_NAT, nat -F NIMBRA_NAT_FILTERED, ?iptables -t nat -S, nat "
         "-D PREROUTING -j NIMBRA_NAT, nat -D PREROUTING -j NIMBRA_NAT_FILTERED"},
        {"[iptables]\nuse_tproxy_ipv6=1\n", 1, "-A FORWARD -j NIMBRA_FILTERS\n",
         "-A INPUT -j NIMBRA_INPUT\n", "",
         "?iptables -S, filter -D FORWARD -j NIMBRA_FILTERS, ?iptables -S, ?ip6tables -S, filter "
         "-D INPUT -j NIMBRA_INPUT, mangle -F NIMBRA_MANGLE, mangle -F NIMBRA_DIVERT, "
         "?ip6tables -t mangle -S"},
        // The router owns the hooks: the listings are still read.
        {"[iptables]\nchains_handled_by_router=1\n", 0, "-A FORWARD -j NIMBRA_FILTERS\n", "",
         "-A PREROUTING -j NIMBRA_NAT\n",
         "?iptables -S, ?iptables -S, ?ip6tables -S, nat -F NIMBRA_NAT, nat -F "
         "NIMBRA_NAT_FILTERED, ?iptables -t nat -S"},
    };
    for (const auto &c : cases) {
        configure(c.config);
        recorder.output = {{"iptables -S", c.v4}, {"ip6tables -S", c.v6},
                           {"iptables -t nat -S", c.nat4}};
        testing::internal::CaptureStdout();
        teardown_chains(c.family);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(sequence(), flush + c.expected) << c.config;
    }
}

// The packet-filter part of a start on a fresh router: every command once,
// each listing only where a guard needs it.
TEST_F(chains_test, start_runs_each_command_once) {
    write_text(dir / "if_inet6", "fe800000000000000000000000000001 01 80 20 80 lo\n"
                                 "fe800000000000000000000000000002 09 40 20 80 nimbra-none0\n");
    const struct {
        const char *config;
        size_t vendor, reads, runs;
    } cases[] = {
        {"ifnames=lo\n", 73, 19, 13},
        {"ifnames=lo nimbra-none0\n", 87, 21, 13},
        {"ifnames=lo\n[iptables]\nuse_tproxy_ipv6=1\n", 75, 18, 15},
        {"ifnames=lo nimbra-none0\n[iptables]\nuse_tproxy_ipv6=1\n", 91, 19, 17},
    };
    for (const auto &c : cases) {
        configure(std::string("[network]\n") + c.config);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        create_chains(0);
        create_chains(1);
        create_ip_sets();
        teardown_chains(0);
        teardown_chains(1);
        install_ipv4_rules();
        install_ipv6_rules_from((dir / "if_inet6").c_str());
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(events_with("vendor: ").size(), c.vendor) << c.config;
        EXPECT_EQ(recorder.reads().size(), c.reads) << c.config;
        EXPECT_EQ(recorder.runs().size(), c.runs) << c.config;
    }
}

}  // namespace
