#include "firewall/ipv4_rules.h"

#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>

#include "firewall/chains.h"
#include "firewall/command.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "util/netif.h"
#include "util/process.h"

namespace {

const firewall_step kFilterRules[] = {
    hook_step(kForwardHook),
    rule_step("filter", "-F", "NIMBRA_FILTERS", nullptr),
    rule_step("filter", "-A", "NIMBRA_FILTERS", "-j UNMANAGED"),
    rule_step("filter", "-A", "NIMBRA_FILTERS", "-j PAUSE"),
    rule_step("filter", "-A", "NIMBRA_FILTERS", "-j FILTERED"),
    hook_step(kNatHook),
    hook_step(kNatFilteredHook),
    rule_step("filter", "-I", "FILTERED",
              "-m set --match-set filtered dst,src,src -p tcp -j REJECT --reject-with tcp-reset"),
    rule_step("filter", "-I", "FILTERED", "-m set --match-set filtered dst,src,src -p udp -j DROP"),
    rule_step("filter", "-I", "FILTERED",
              "-m set --match-set managedlist src -p udp --dport 443 -j DROP"),
    rule_step("filter", "-I", "UNMANAGED", "-m set --match-set unmanaged dst,src,src -j ACCEPT"),
    rule_step("filter", "-I", "UNMANAGED", "-m set --match-set dnsallow dst -j ACCEPT"),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT_FILTERED",
              "-m set --match-set filtered dst,src,src -p tcp --dport 80 -j DNAT "
              "--to-destination 10.123.234.1:%u", v.http),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT_FILTERED",
              "-m set --match-set filtered dst,src,src -p tcp --dport 443 -j DNAT "
              "--to-destination 10.123.234.1:%u", v.https),
};

const firewall_step kInterfaceRedirects[] = {
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT",
              "-i %s -p tcp --dport 80 -d 10.123.234.1 -j DNAT --to-destination 10.123.234.1:%u", v.interface, v.http),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT",
              "-i %s -p tcp --dport 443 -d 10.123.234.1 -j DNAT --to-destination 10.123.234.1:%u", v.interface, v.https),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT",
              "-i %s -p tcp --dport 80 -d 10.123.240.0/20 -j DNAT "
              "--to-destination 10.123.234.1:%u", v.interface, v.http),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT",
              "-i %s -p tcp --dport 443 -d 10.123.240.0/20 -j DNAT "
              "--to-destination 10.123.234.1:%u", v.interface, v.https),
};

// Queries to the router's own address on the interface are left alone.
const firewall_step kDnsInterception[] = {
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT",
              "-i %s -p udp --dport 53 ! -s %s -j DNAT --to-destination %s:%d", v.interface, v.address, v.address, v.dns),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT",
              "-i %s -p tcp --dport 53 ! -s %s -j DNAT --to-destination %s:%d", v.interface, v.address, v.address, v.dns),
};

const firewall_step kInputRules[] = {
    hook_step(kInputHook),
    rule_step("filter", "-A", "NIMBRA_INPUT", "-d 10.123.234.1/32 -j ACCEPT"),
    rule_step("filter", "-A", "NIMBRA_INPUT", "-d 10.123.240.0/20 -j ACCEPT"),
};

// The DNS forwarder's port is opened at the head of NIMBRA_INPUT once. The
// listing shows the "-m udp" that iptables adds to such a rule.
void accept_dns_forwarder() {
    const int port = get_dnsmasq_port();
    char needle[kRuleSize];
    snprintf(needle, sizeof(needle), " NIMBRA_INPUT -p udp -m udp --dport %d -j ACCEPT", port);
    if (listing_contains("iptables -S", needle)) return;
    char rule[kRuleSize];
    snprintf(rule, sizeof(rule), "1 -p udp --dport %d -j ACCEPT", port);
    apply_iptables_rule("filter", "-I", "NIMBRA_INPUT", rule, FAMILY_IPV4);
}

}  // namespace

void install_ipv4_rules() {
    apply_steps(kFilterRules, {}, FAMILY_IPV4);

    char **ifnames = get_nimbra_ifnames();
    for (char **name = ifnames; name && *name; ++name) {
        char address[INET_ADDRSTRLEN];
        const int lookup = get_iface_ipv4(*name, address, sizeof(address));
        // Without an address there is nothing to send DNS to (a redirect to
        // ":port" would send it elsewhere); the web redirects stay.
        const bool has_address = lookup == 0;
        if (lookup == -EADDRNOTAVAIL)
            fprintf(stderr, "Skipping DNS interception on %s: no IPv4 address\n", *name);
        else if (lookup < 0)
            fprintf(stderr, "Skipping DNS interception on %s: socket for the address query failed: %s\n",
                    *name, strerror(-lookup));
        const rule_values values = {*name, address, nullptr};
        apply_steps(kInterfaceRedirects, values, FAMILY_IPV4);
        if (has_address) apply_steps(kDnsInterception, values, FAMILY_IPV4);
    }

    apply_steps(kInputRules, {}, FAMILY_IPV4);
    accept_dns_forwarder();
}
