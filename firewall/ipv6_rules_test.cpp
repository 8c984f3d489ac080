#include "firewall/ipv6_rules.h"

#include <gtest/gtest.h>

#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

const char kIfInet6[] =
    "fe80000000000000021122fffe334455 03 40 20 80      br0\n"
    "febf0000000000000000000000000007 05 40 00 80     eth1\n";

class install_ipv6_rules_test : public agent_test {
protected:
    void run(const std::string &ini, const std::string &if_inet6, bool repair = false) {
        write_text(dir / "if_inet6", kIfInet6);
        use_config(dir, ini + "[iptables]\nchains_handled_by_router=0\nuse_tproxy_ipv6=0\n"
                              "[nimbra_ports]\nbase_port=4600\ndnsmasq_port=5300\n");
        test_events().clear();
        capture([&] { install_ipv6_rules_from((dir / if_inet6).c_str(), repair); });
    }
    static const std::string &rule(size_t index) { return fake_vendor().iptables_calls[index].rule; }
};

TEST_F(install_ipv6_rules_test, dnat_excludes_the_routers_own_address_per_interface) {
    run("[network]\nifnames=br0 wlan0\n", "if_inet6");
    std::vector<std::string> dns;
    for (const fake_iptables_call &call : fake_vendor().iptables_calls)
        if (call.rule.find("--dport 53 ") != std::string::npos) dns.push_back(call.rule);
    EXPECT_EQ(dns, (std::vector<std::string>{
                       "-i br0 -p udp --dport 53 ! -s fe80::211:22ff:fe33:4455 -j DNAT "
                       "--to-destination [fe80::211:22ff:fe33:4455]:5300",
                       "-i br0 -p tcp --dport 53 ! -s fe80::211:22ff:fe33:4455 -j DNAT "
                       "--to-destination [fe80::211:22ff:fe33:4455]:5300"}));
    EXPECT_NE(out.find("Router's IPv6 fe80::211:22ff:fe33:4455 @ br0\n"), std::string::npos);
    EXPECT_EQ(err, "Failed retrieving router's IPv6 address: No such device\n");
}

TEST_F(install_ipv6_rules_test, tproxy_policy_routing_per_interface_and_once_on_repair) {
    const std::string ini = "[network]\nifnames=br0 eth1\n[iptables]\nuse_tproxy_ipv6=1\n"
                            "[nimbra_ports]\ndnsmasq_port=53\n";
    run(ini, "if_inet6");
    EXPECT_EQ(recorder.runs(), (std::vector<std::string>{
                                   "ip -f inet6 rule add fwmark 3 lookup 101",
                                   "ip -f inet6 route add local default dev br0 table 101",
                                   "ip -f inet6 rule add fwmark 3 lookup 101",
                                   "ip -f inet6 route add local default dev eth1 table 101"}));
    recorder.output["ip -6 rule show"] = "32765:\tfrom all fwmark 0x3 lookup 101\n";
    run(ini, "if_inet6", true);
    EXPECT_EQ(recorder.runs(), (std::vector<std::string>{
                                   "ip -f inet6 route replace local default dev br0 table 101",
                                   "ip -f inet6 route replace local default dev eth1 table 101"}));
    EXPECT_EQ(err, "");
}

}  // namespace
