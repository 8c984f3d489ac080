#include "firewall/chains.h"

#include "libraries/nimbracfg/nimbrafiles.h"

const firewall_hook kForwardHook = {"filter", "FORWARD", "-I", "-j NIMBRA_FILTERS",
                                    " FORWARD -j NIMBRA_FILTERS", {"iptables -S", "ip6tables -S"}};
const firewall_hook kInputHook = {"filter", "INPUT", "-I", "-j NIMBRA_INPUT",
                                  " INPUT -j NIMBRA_INPUT", {"iptables -S", "ip6tables -S"}};
const firewall_hook kNatHook = {"nat", "PREROUTING", "-A", "-j NIMBRA_NAT",
                                " PREROUTING -j NIMBRA_NAT",
                                {"iptables -t nat -S", "ip6tables -t nat -S"}};
const firewall_hook kNatFilteredHook = {"nat", "PREROUTING", "-A", "-j NIMBRA_NAT_FILTERED",
                                        " PREROUTING -j NIMBRA_NAT_FILTERED",
                                        {"iptables -t nat -S", "ip6tables -t nat -S"}};
const firewall_hook kMangleHook = {"mangle", "PREROUTING", "-A", "-j NIMBRA_MANGLE",
                                   " PREROUTING -j NIMBRA_MANGLE",
                                   {nullptr, "ip6tables -t mangle -S"}};

namespace {

// The chains that redirect traffic: nat with DNAT, or for IPv6 optionally
// mangle with TPROXY. The first hook's presence stands for both hooks.
struct redirect_chains {
    const char *table;
    const char *chains[2];
    const firewall_hook *hooks[2];
};

const redirect_chains kNatChains = {
    "nat", {"NIMBRA_NAT", "NIMBRA_NAT_FILTERED"}, {&kNatHook, &kNatFilteredHook}};
const redirect_chains kMangleChains = {
    "mangle", {"NIMBRA_MANGLE", "NIMBRA_DIVERT"}, {&kMangleHook, nullptr}};

// Created even when the router owns the agent's other chains.
const char *const kVerdictChains[] = {"UNMANAGED", "PAUSE", "FILTERED"};

const char *const kFilterFlushOrder[] = {"PAUSE", "FILTERED", "UNMANAGED", "NIMBRA_FILTERS",
                                         "NIMBRA_INPUT"};

const firewall_hook *const kFilterHooks[] = {&kForwardHook, &kInputHook};

const redirect_chains &redirect_chains_of(ip_family family) {
    return family == FAMILY_IPV6 && get_use_tproxy_ipv6() ? kMangleChains : kNatChains;
}

}  // namespace

void create_chains(ip_family family) {
    if (!get_chains_handled_by_router()) {
        const redirect_chains &redirect = redirect_chains_of(family);
        apply_iptables_rule("filter", "-N", "NIMBRA_FILTERS", nullptr, family);
        for (const char *chain : redirect.chains)
            apply_iptables_rule(redirect.table, "-N", chain, nullptr, family);
        apply_iptables_rule("filter", "-N", "NIMBRA_INPUT", nullptr, family);
    }
    for (const char *chain : kVerdictChains)
        apply_iptables_rule("filter", "-N", chain, nullptr, family);
}

void teardown_chains(ip_family family) {
    for (const char *chain : kFilterFlushOrder)
        apply_iptables_rule("filter", "-F", chain, nullptr, family);

    // A filter hook seen in either family's listing is removed from this
    // family; where it is absent the "-D" fails harmlessly.
    for (const firewall_hook *hook : kFilterHooks) {
        const bool listed = hook_listed(*hook, FAMILY_IPV4) || hook_listed(*hook, FAMILY_IPV6);
        if (listed && !get_chains_handled_by_router())
            apply_iptables_rule(hook->table, "-D", hook->chain, hook->rule, family);
    }

    const redirect_chains &redirect = redirect_chains_of(family);
    for (const char *chain : redirect.chains)
        apply_iptables_rule(redirect.table, "-F", chain, nullptr, family);
    if (hook_listed(*redirect.hooks[0], family) && !get_chains_handled_by_router()) {
        for (const firewall_hook *hook : redirect.hooks)
            if (hook) apply_iptables_rule(hook->table, "-D", hook->chain, hook->rule, family);
    }
}
