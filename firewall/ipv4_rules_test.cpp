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

TEST_F(install_ipv4_rules_test, fills_chains_per_interface_in_order) {
    run("");
    const std::string web = "nat -A NIMBRA_NAT, nat -A NIMBRA_NAT, nat -A NIMBRA_NAT, nat -A NIMBRA_NAT, ";
    EXPECT_EQ(event_sequence(),
              "?iptables -S, filter -I FORWARD, filter -F NIMBRA_FILTERS, filter -A NIMBRA_FILTERS, "
              "filter -A NIMBRA_FILTERS, filter -A NIMBRA_FILTERS, ?iptables -t nat -S, nat -A PREROUTING, "
              "?iptables -t nat -S, nat -A PREROUTING, filter -I FILTERED, filter -I FILTERED, "
              "filter -I FILTERED, filter -I UNMANAGED, filter -I UNMANAGED, nat -A NIMBRA_NAT_FILTERED, "
              "nat -A NIMBRA_NAT_FILTERED, " + web + "nat -A NIMBRA_NAT, nat -A NIMBRA_NAT, " + web +
                  "?iptables -S, filter -I INPUT, filter -A NIMBRA_INPUT, filter -A NIMBRA_INPUT, "
                  "?iptables -S, filter -I NIMBRA_INPUT");
    // Each kind of value in its place: interface, own address, ports.
    const auto &calls = fake_vendor().iptables_calls;
    EXPECT_EQ(calls[2].rule + ", " + calls[3].rule + ", " + calls[4].rule,
              "-j UNMANAGED, -j PAUSE, -j FILTERED");
    EXPECT_EQ(calls[18].rule,
              "-i lo -p udp --dport 53 ! -s 127.0.0.1 -j DNAT --to-destination 127.0.0.1:5300");
    EXPECT_EQ(calls[21].rule, "-i nimbra-none0 -p tcp --dport 443 -d 10.123.234.1 -j DNAT "
                              "--to-destination 10.123.234.1:4602");
    EXPECT_EQ(err, "Skipping DNS interception on nimbra-none0: no IPv4 address\n");
    EXPECT_EQ(out.substr(out.rfind("-->")),
              "--> iptables -t filter -I NIMBRA_INPUT 1 -p udp --dport 5300 -j ACCEPT\n");
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
        EXPECT_EQ(fake_vendor().iptables_calls.size(), 23 + c.added.size());
    }
}

}  // namespace
