#include "firewall/ipv6_rules.h"

#include <stdio.h>
#include <string.h>

#include "firewall/chains.h"
#include "firewall/command.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "util/netif.h"
#include "util/process.h"

const char kRedirectIpv6[] = "fd22:9464:dfb8::1";

namespace {

const firewall_step kFilterRules[] = {
    hook_step(kForwardHook),
    rule_step("filter", "-F", "NIMBRA_FILTERS", nullptr),
    rule_step("filter", "-A", "NIMBRA_FILTERS", "-j UNMANAGED"),
    rule_step("filter", "-A", "NIMBRA_FILTERS", "-j PAUSE"),
    rule_step("filter", "-A", "NIMBRA_FILTERS", "-j FILTERED"),
    rule_step("filter", "-I", "FILTERED",
              "-m set --match-set filteredv6 dst,src,src -p tcp -j REJECT --reject-with tcp-reset"),
    rule_step("filter", "-I", "FILTERED",
              "-m set --match-set filteredv6 dst,src,src -p udp -j DROP"),
    rule_step("filter", "-I", "UNMANAGED",
              "-m set --match-set unmanagedv6 dst,src,src -j ACCEPT"),
    rule_step("filter", "-I", "UNMANAGED", "-m set --match-set dnsallowv6 dst -j ACCEPT"),
    hook_step(kInputHook),
    rule_step("filter", "-A", "NIMBRA_INPUT", "-d fd22:9464:dfb8::/64 -j ACCEPT"),
};

const firewall_step kDnatRules[] = {
    hook_step(kNatHook),
    hook_step(kNatFilteredHook),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT",
              "-i %s -p udp --dport 53 ! -s %s -j DNAT --to-destination [%s]:%d", v.interface, v.address, v.address, v.dns),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT",
              "-i %s -p tcp --dport 53 ! -s %s -j DNAT --to-destination [%s]:%d", v.interface, v.address, v.address, v.dns),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT_FILTERED",
              "-m set --match-set filteredv6 dst,src,src -p tcp --dport 80 -j DNAT "
              "--to-destination [%s]:%u", v.redirect, v.http),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT_FILTERED",
              "-m set --match-set filteredv6 dst,src,src -p tcp --dport 443 -j DNAT "
              "--to-destination [%s]:%u", v.redirect, v.https),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT",
              "-i %s -p tcp --dport 80 -d %s -j DNAT --to-destination [%s]:%u", v.interface, v.redirect, v.redirect, v.http),
    NIMBRA_RULE_TEMPLATE("nat", "-A", "NIMBRA_NAT",
              "-i %s -p tcp --dport 443 -d %s -j DNAT --to-destination [%s]:%u", v.interface, v.redirect, v.redirect, v.https),
    NIMBRA_RULE_TEMPLATE("nat", "-I", "NIMBRA_NAT",
              "-i %s -p tcp --dport 80 -d fd22:9464:dfb8::/116 -j DNAT --to-destination [%s]:%u", v.interface, v.redirect, v.http),
    NIMBRA_RULE_TEMPLATE("nat", "-I", "NIMBRA_NAT",
              "-i %s -p tcp --dport 443 -d fd22:9464:dfb8::/116 -j DNAT --to-destination [%s]:%u", v.interface, v.redirect, v.https),
};

// Some rules keep their established doubled blank before "--on-ip"; the
// echo shows it, iptables reads any run of blanks as one.
const firewall_step kTproxyRules[] = {
    rule_step("mangle", "-A", "NIMBRA_DIVERT", "-j MARK --set-mark 3"),
    rule_step("mangle", "-A", "NIMBRA_DIVERT", "-j ACCEPT"),
    NIMBRA_RULE_TEMPLATE("mangle", "-A", "NIMBRA_MANGLE",
              "-m set --match-set filteredv6 dst,src,src -p tcp --dport 80 -j TPROXY "
              "--tproxy-mark 0x5/0x5 --on-ip %s --on-port %u", v.redirect, v.http),
    NIMBRA_RULE_TEMPLATE("mangle", "-A", "NIMBRA_MANGLE",
              "-m set --match-set filteredv6 dst,src,src -p tcp --dport 443 -j TPROXY "
              "--tproxy-mark 0x5/0x5 --on-ip %s --on-port %u", v.redirect, v.https),
    NIMBRA_RULE_TEMPLATE("mangle", "-A", "NIMBRA_MANGLE",
              "-i %s -p tcp --dport 80 -d %s -j TPROXY --tproxy-mark 0x4/0x4  --on-ip %s "
              "--on-port %u", v.interface, v.redirect, v.redirect, v.http),
    NIMBRA_RULE_TEMPLATE("mangle", "-A", "NIMBRA_MANGLE",
              "-i %s -p tcp --dport 443 -d %s -j TPROXY --tproxy-mark 0x4/0x4  --on-ip %s "
              "--on-port %u", v.interface, v.redirect, v.redirect, v.https),
    NIMBRA_RULE_TEMPLATE("mangle", "-I", "NIMBRA_MANGLE",
              "-i %s -p tcp --dport 80 -d fd22:9464:dfb8::/116 -j TPROXY "
              "--tproxy-mark 0x4/0x4  --on-ip %s --on-port %u", v.interface, v.redirect, v.http),
    NIMBRA_RULE_TEMPLATE("mangle", "-I", "NIMBRA_MANGLE",
              "-i %s -p tcp --dport 443 -d fd22:9464:dfb8::/116 -j TPROXY "
              "--tproxy-mark 0x4/0x4  --on-ip %s --on-port %u", v.interface, v.redirect, v.https),
    NIMBRA_RULE_TEMPLATE("mangle", "-A", "NIMBRA_MANGLE",
              "-i %s -p udp --dport 53 ! -s %s -j TPROXY --tproxy-mark 0x3/0x3  --on-ip %s "
              "--on-port %d", v.interface, v.address, v.address, v.dns),
    NIMBRA_RULE_TEMPLATE("mangle", "-A", "NIMBRA_MANGLE",
              "-i %s -p tcp --dport 53 ! -s %s -j TPROXY --tproxy-mark 0x3/0x3  --on-ip %s "
              "--on-port %d", v.interface, v.address, v.address, v.dns),
    NIMBRA_RULE_TEMPLATE("mangle", "-A", "NIMBRA_MANGLE", "-i %s -p udp --dport 53 -j NIMBRA_DIVERT", v.interface),
};

// Packets marked 3 by NIMBRA_DIVERT are delivered locally through table
// 101, where the transparent proxy picks them up.
void install_tproxy(const rule_values &values, bool repair) {
    add_hook(kMangleHook, FAMILY_IPV6);
    // The kernel keeps every copy of a rule added twice.
    if (!repair || !command_output_contains("ip -6 rule show", "fwmark 0x3 lookup 101"))
        run_shellf("ip -f inet6 rule add fwmark 3 lookup 101");
    // As at start, the first interface's route stands: later ones are
    // refused as duplicates, so a repair adds one only to a table without it.
    if (!repair || !command_output_contains("ip -6 route show table 101", "local default"))
        run_shellf("ip -f inet6 route add local default dev %s table 101", values.interface);
    apply_steps(kTproxyRules, values, FAMILY_IPV6);
}

}  // namespace

void install_ipv6_rules(bool repair) {
    apply_steps(kFilterRules, {}, FAMILY_IPV6);

    char **ifnames = get_nimbra_ifnames();
    for (char **name = ifnames; name && *name; ++name) {
        char address[kIpv6TextSize];
        const int error = get_iface_ipv6(*name, address);
        if (error) {
            fprintf(stderr, "Failed retrieving router's IPv6 address: %s\n", strerror(error));
            continue;
        }
        printf("Router's IPv6 %s @ %s\n", address, *name);
        const rule_values values = {*name, address, kRedirectIpv6};
        if (get_use_tproxy_ipv6())
            install_tproxy(values, repair);
        else
            apply_steps(kDnatRules, values, FAMILY_IPV6);
    }
}
