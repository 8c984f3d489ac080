#include "firewall/ipv4_rules.h"

#include <gtest/gtest.h>

#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

class install_ipv4_rules_test : public agent_test {
protected:
    // Every setting present, so that no look-up warns. "lo" has 127.0.0.1;
    // "nimbra-none0" does not exist and so has no address.
    void run(const std::string &ini) {
        use_config(dir, ini + "[network]\nifnames=lo nimbra-none0\n[iptables]\nchains_handled_by_router=0\n"
                              "[nimbra_ports]\nbase_port=4600\ndnsmasq_port=5300\n");
        test_events().clear();
        fake_vendor().iptables_calls.clear();
        capture(install_ipv4_rules);
    }
};

TEST_F(install_ipv4_rules_test, dns_interception_only_where_the_interface_has_an_address) {
    run("");
    std::vector<std::string> dns;
    for (const fake_iptables_call &call : fake_vendor().iptables_calls)
        if (call.rule.find("--dport 53 ") != std::string::npos) dns.push_back(call.rule);
    EXPECT_EQ(dns, (std::vector<std::string>{
                       "-i lo -p udp --dport 53 ! -s 127.0.0.1 -j DNAT --to-destination 127.0.0.1:5300",
                       "-i lo -p tcp --dport 53 ! -s 127.0.0.1 -j DNAT --to-destination 127.0.0.1:5300"}));
    EXPECT_EQ(err, "Skipping DNS interception on nimbra-none0: no IPv4 address\n");
}

TEST_F(install_ipv4_rules_test, guards_add_only_what_is_missing) {
    const std::string dns_accept = "filter -I NIMBRA_INPUT 1 -p udp --dport 5300 -j ACCEPT";
    const std::string forward = "filter -I FORWARD -j NIMBRA_FILTERS";
    const std::string input = "filter -I INPUT -j NIMBRA_INPUT";
    const struct {
        const char *config, *filter, *nat;
        std::vector<std::string> added;
    } cases[] = {
        {"", "-A FORWARD -j NIMBRA_FILTERS\n-A INPUT -j NIMBRA_INPUT\n"
             "-A NIMBRA_INPUT -p udp -m udp --dport 5300 -j ACCEPT\n",
         "-A PREROUTING -j NIMBRA_NAT\n-A PREROUTING -j NIMBRA_NAT_FILTERED\n", {}},
        // The second hook's line also shows the first hook's needle.
        {"", "", "-A PREROUTING -j NIMBRA_NAT_FILTERED\n", {forward, input, dns_accept}},
        {"[nimbra_ports]\ndnsmasq_port=53\n", "-A NIMBRA_INPUT -p udp -m udp --dport 5300 -j ACCEPT\n",
         "-A PREROUTING -j NIMBRA_NAT\n",
         {forward, "nat -A PREROUTING -j NIMBRA_NAT_FILTERED", input,
          "filter -I NIMBRA_INPUT 1 -p udp --dport 53 -j ACCEPT"}},
        {"[iptables]\nchains_handled_by_router=1\n", "", "", {dns_accept}},
    };
    for (const auto &c : cases) {
        recorder.output = {{"iptables -S", c.filter}, {"iptables -t nat -S", c.nat}};
        run(c.config);
        std::vector<std::string> added;
        for (const fake_iptables_call &call : fake_vendor().iptables_calls)
            if (call.chain == "FORWARD" || call.chain == "INPUT" || call.chain == "PREROUTING" ||
                call.rule.compare(0, 2, "1 ") == 0)
                added.push_back(call.table + " " + call.operation + " " + call.chain + " " + call.rule);
        EXPECT_EQ(added, c.added) << c.config << c.filter << c.nat;
    }
}

}  // namespace
