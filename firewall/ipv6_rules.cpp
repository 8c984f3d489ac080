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
    rule_step("nat", "-A", "NIMBRA_NAT",
              "-i %s -p udp --dport 53 ! -s %s -j DNAT --to-destination [%s]:%d", SHAPE_I_A_A_P,
              DNS_FORWARDER),
    rule_step("nat", "-A", "NIMBRA_NAT",
              "-i %s -p tcp --dport 53 ! -s %s -j DNAT --to-destination [%s]:%d", SHAPE_I_A_A_P,
              DNS_FORWARDER),
    rule_step("nat", "-A", "NIMBRA_NAT_FILTERED",
              "-m set --match-set filteredv6 dst,src,src -p tcp --dport 80 -j DNAT "
              "--to-destination [%s]:%u",
              SHAPE_R_P, REDIRECT_HTTP),
    rule_step("nat", "-A", "NIMBRA_NAT_FILTERED",
              "-m set --match-set filteredv6 dst,src,src -p tcp --dport 443 -j DNAT "
              "--to-destination [%s]:%u",
              SHAPE_R_P, REDIRECT_HTTPS),
    rule_step("nat", "-A", "NIMBRA_NAT",
              "-i %s -p tcp --dport 80 -d %s -j DNAT --to-destination [%s]:%u", SHAPE_I_R_R_P,
              REDIRECT_HTTP),
    rule_step("nat", "-A", "NIMBRA_NAT",
              "-i %s -p tcp --dport 443 -d %s -j DNAT --to-destination [%s]:%u", SHAPE_I_R_R_P,
              REDIRECT_HTTPS),
    rule_step("nat", "-I", "NIMBRA_NAT",
              "-i %s -p tcp --dport 80 -d fd22:9464:dfb8::/116 -j DNAT --to-destination [%s]:%u",
              SHAPE_I_R_P, REDIRECT_HTTP),
    rule_step("nat", "-I", "NIMBRA_NAT",
              "-i %s -p tcp --dport 443 -d fd22:9464:dfb8::/116 -j DNAT --to-destination [%s]:%u",
              SHAPE_I_R_P, REDIRECT_HTTPS),
};

// Some rules keep their established doubled blank before "--on-ip"; the
// echo shows it, iptables reads any run of blanks as one.
const firewall_step kTproxyRules[] = {
    rule_step("mangle", "-A", "NIMBRA_DIVERT", "-j MARK --set-mark 3"),
    rule_step("mangle", "-A", "NIMBRA_DIVERT", "-j ACCEPT"),
    rule_step("mangle", "-A", "NIMBRA_MANGLE",
              "-m set --match-set filteredv6 dst,src,src -p tcp --dport 80 -j TPROXY "
              "--tproxy-mark 0x5/0x5 --on-ip %s --on-port %u",
              SHAPE_R_P, REDIRECT_HTTP),
    rule_step("mangle", "-A", "NIMBRA_MANGLE",
              "-m set --match-set filteredv6 dst,src,src -p tcp --dport 443 -j TPROXY "
              "--tproxy-mark 0x5/0x5 --on-ip %s --on-port %u",
              SHAPE_R_P, REDIRECT_HTTPS),
    rule_step("mangle", "-A", "NIMBRA_MANGLE",
              "-i %s -p tcp --dport 80 -d %s -j TPROXY --tproxy-mark 0x4/0x4  --on-ip %s "
              "--on-port %u",
              SHAPE_I_R_R_P, REDIRECT_HTTP),
    rule_step("mangle", "-A", "NIMBRA_MANGLE",
              "-i %s -p tcp --dport 443 -d %s -j TPROXY --tproxy-mark 0x4/0x4  --on-ip %s "
              "--on-port %u",
              SHAPE_I_R_R_P, REDIRECT_HTTPS),
    rule_step("mangle", "-I", "NIMBRA_MANGLE",
              "-i %s -p tcp --dport 80 -d fd22:9464:dfb8::/116 -j TPROXY "
              "--tproxy-mark 0x4/0x4  --on-ip %s --on-port %u",
              SHAPE_I_R_P, REDIRECT_HTTP),
    rule_step("mangle", "-I", "NIMBRA_MANGLE",
              "-i %s -p tcp --dport 443 -d fd22:9464:dfb8::/116 -j TPROXY "
              "--tproxy-mark 0x4/0x4  --on-ip %s --on-port %u",
              SHAPE_I_R_P, REDIRECT_HTTPS),
    rule_step("mangle", "-A", "NIMBRA_MANGLE",
              "-i %s -p udp --dport 53 ! -s %s -j TPROXY --tproxy-mark 0x3/0x3  --on-ip %s "
              "--on-port %d",
              SHAPE_I_A_A_P, DNS_FORWARDER),
    rule_step("mangle", "-A", "NIMBRA_MANGLE",
              "-i %s -p tcp --dport 53 ! -s %s -j TPROXY --tproxy-mark 0x3/0x3  --on-ip %s "
              "--on-port %d",
              SHAPE_I_A_A_P, DNS_FORWARDER),
    rule_step("mangle", "-A", "NIMBRA_MANGLE", "-i %s -p udp --dport 53 -j NIMBRA_DIVERT",
              SHAPE_I),
};

// Packets marked 3 by NIMBRA_DIVERT are delivered locally through table
// 101, where the transparent proxy picks them up.
void install_tproxy(const rule_values &values) {
    add_hook(kMangleHook, 1);
    run_shellf("ip -f inet6 rule add fwmark 3 lookup 101");
    run_shellf("ip -f inet6 route add local default dev %s table 101", values.interface);
    apply_steps(kTproxyRules, values, 1);
}

}  // namespace

void install_ipv6_rules() { install_ipv6_rules_from(kIfInet6); }

void install_ipv6_rules_from(const char *if_inet6) {
    apply_steps(kFilterRules, {}, 1);

    char **ifnames = get_nimbra_ifnames();
    for (char **name = ifnames; name && *name; ++name) {
        char address[kIpv6TextSize];
        const int error = get_iface_ipv6_in(if_inet6, *name, address);
        if (error) {
            fprintf(stderr, "Failed retrieving router's IPv6 address: %s\n", strerror(error));
            continue;
        }
        printf("Router's IPv6 %s @ %s\n", address, *name);
        const rule_values values = {*name, address, kRedirectIpv6};
        if (get_use_tproxy_ipv6())
            install_tproxy(values);
        else
            apply_steps(kDnatRules, values, 1);
    }
}
