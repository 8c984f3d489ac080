#include "firewall/ipv6_rules.h"
#include "util/netif.h"

#include <errno.h>
#include <gtest/gtest.h>

#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

// A global address and a longer name come before br0's link-local address.
const char kIfInet6[] =
    "not an address line\n"
    "fd220000000000000000000000000001 03 40 00 80      br0\n"
    "fe800000000000000000000000000abc 04 40 20 80    br0.1\n"
    "fec00000000000000000000000000005 03 40 20 80      br0\n"
    "fe80000000000000021122fffe334455 03 40 20 80      br0\n"
    "febf0000000000000000000000000007 05 40 00 80     eth1\n";

TEST(find_iface_ipv6, takes_first_link_local_of_exact_name) {
    const struct {
        const char *interface;
        int result;
        const char *address;
    } cases[] = {
        {"br0", 0, "fe80::211:22ff:fe33:4455"}, {"br0.1", 0, "fe80::abc"}, {"eth1", 0, "febf::7"},
        {"br", ENODEV, ""},
    };
    for (const auto &c : cases) {
        FILE *stream = fmemopen(const_cast<char *>(kIfInet6), sizeof(kIfInet6) - 1, "r");
        char buffer[kIpv6TextSize] = "";
        EXPECT_EQ(find_iface_ipv6(stream, c.interface, buffer), c.result) << c.interface;
        EXPECT_STREQ(buffer, c.address) << c.interface;
        fclose(stream);
    }
}

class install_ipv6_rules_test : public agent_test {
protected:
    void run(const std::string &ini, const std::string &if_inet6) {
        write_text(dir / "if_inet6", kIfInet6);
        use_config(dir, ini + "[iptables]\nchains_handled_by_router=0\nuse_tproxy_ipv6=0\n"
                              "[nimbra_ports]\nbase_port=4600\ndnsmasq_port=5300\n");
        test_events().clear();
        capture([&] { install_ipv6_rules_from((dir / if_inet6).c_str()); });
    }
    static const std::string &rule(size_t index) { return fake_vendor().iptables_calls[index].rule; }
};

TEST_F(install_ipv6_rules_test, dnat_for_each_interface_with_an_address) {
    run("[network]\nifnames=br0 wlan0\n", "if_inet6");
    EXPECT_EQ(event_sequence(),
              "?ip6tables -S, filter -I FORWARD, filter -F NIMBRA_FILTERS, filter -A NIMBRA_FILTERS, "
              "filter -A NIMBRA_FILTERS, filter -A NIMBRA_FILTERS, filter -I FILTERED, filter -I FILTERED, "
              "filter -I UNMANAGED, filter -I UNMANAGED, ?ip6tables -S, filter -I INPUT, "
              "filter -A NIMBRA_INPUT, ?ip6tables -t nat -S, nat -A PREROUTING, ?ip6tables -t nat -S, "
              "nat -A PREROUTING, nat -A NIMBRA_NAT, nat -A NIMBRA_NAT, nat -A NIMBRA_NAT_FILTERED, "
              "nat -A NIMBRA_NAT_FILTERED, nat -A NIMBRA_NAT, nat -A NIMBRA_NAT, nat -I NIMBRA_NAT, "
              "nat -I NIMBRA_NAT");
    EXPECT_EQ(rule(2) + ", " + rule(3) + ", " + rule(4), "-j UNMANAGED, -j PAUSE, -j FILTERED");
    // The router's link-local address is excluded as source, not the redirect address.
    EXPECT_EQ(rule(13), "-i br0 -p udp --dport 53 ! -s fe80::211:22ff:fe33:4455 -j DNAT "
                        "--to-destination [fe80::211:22ff:fe33:4455]:5300");
    EXPECT_EQ(rule(20), "-i br0 -p tcp --dport 443 -d fd22:9464:dfb8::/116 -j DNAT "
                        "--to-destination [fd22:9464:dfb8::1]:4602");
    EXPECT_NE(out.find("Router's IPv6 fe80::211:22ff:fe33:4455 @ br0\n"), std::string::npos);
    EXPECT_EQ(err, "Failed retrieving router's IPv6 address: No such device\n");
}

TEST_F(install_ipv6_rules_test, tproxy_repeats_policy_routing_per_interface) {
    recorder.output["ip6tables -t mangle -S"] = "-A PREROUTING -j NIMBRA_MANGLE\n";
    run("[network]\nifnames=br0 eth1\n[iptables]\nuse_tproxy_ipv6=1\n[nimbra_ports]\ndnsmasq_port=53\n",
        "if_inet6");
    const std::string per_interface =
        "?ip6tables -t mangle -S, $, $, mangle -A NIMBRA_DIVERT, mangle -A NIMBRA_DIVERT, "
        "mangle -A NIMBRA_MANGLE, mangle -A NIMBRA_MANGLE, mangle -A NIMBRA_MANGLE, mangle -A NIMBRA_MANGLE, "
        "mangle -I NIMBRA_MANGLE, mangle -I NIMBRA_MANGLE, mangle -A NIMBRA_MANGLE, mangle -A NIMBRA_MANGLE, "
        "mangle -A NIMBRA_MANGLE";
    EXPECT_EQ(event_sequence(false, 13), per_interface + ", " + per_interface);
    const std::vector<std::string> runs = recorder.runs();
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[2] + "; " + runs[3], "ip -f inet6 rule add fwmark 3 lookup 101; "
                                        "ip -f inet6 route add local default dev eth1 table 101");
    EXPECT_EQ(rule(17), "-i br0 -p tcp --dport 80 -d fd22:9464:dfb8::/116 -j TPROXY "
                        "--tproxy-mark 0x4/0x4  --on-ip fd22:9464:dfb8::1 --on-port 4601");
    EXPECT_EQ(rule(31), "-i eth1 -p tcp --dport 53 ! -s febf::7 -j TPROXY --tproxy-mark 0x3/0x3  "
                        "--on-ip febf::7 --on-port 53");
    EXPECT_EQ(err, "");
}

TEST_F(install_ipv6_rules_test, missing_if_inet6_leaves_only_the_filter_stage) {
    recorder.output["ip6tables -S"] = "-A FORWARD -j NIMBRA_FILTERS\n-A INPUT -j NIMBRA_INPUT\n";
    run("[network]\nifnames=br0 eth1\n", "missing");
    const std::string lines = "get_iface_ipv6: /proc/net/if_inet6 not found\n"
                              "Failed retrieving router's IPv6 address: No such file or directory\n";
    EXPECT_EQ(err, lines + lines);
    EXPECT_EQ(recorder.reads(), (std::vector<std::string>{"ip6tables -S", "ip6tables -S"}));
    EXPECT_EQ(fake_vendor().iptables_calls.size(), 9u);  // no hook, no redirect
}

}  // namespace
