#include "firewall/command.h"

#include "firewall/batch.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "nimbra_vendor.h"
#include "util/process.h"

int apply_iptables_rule(const char *table, const char *operation, const char *chain,
                        const char *rule, ip_family family) {
    printf("--> %s -t %s %s %s %s\n", family == FAMILY_IPV6 ? "ip6tables" : "iptables", table,
           operation, chain, rule ? rule : "");
    if (batch_open()) return batch_add(table, operation, chain, rule, family);
    // The vendor library's tools write straight to the terminal; the echo
    // goes first so that their complaints follow the line they belong to.
    fflush(stdout);
    return nimbra_run_iptables_command(table, operation, chain, rule, family);
}

int listing_contains(const char *listing, const char *needle) {
    const int batched = batch_listing_contains(listing, needle);
    return batched >= 0 ? batched : command_output_contains(listing, needle);
}

int hook_listed(const firewall_hook &hook, ip_family family) {
    const char *listing = hook.listing[family];
    return listing ? listing_contains(listing, hook.needle) : 0;
}

void add_hook(const firewall_hook &hook, ip_family family) {
    if (!hook_listed(hook, family) && !get_chains_handled_by_router())
        apply_iptables_rule(hook.table, hook.operation, hook.chain, hook.rule, family);
}

void apply_steps(const firewall_step *steps, size_t count, rule_values values, ip_family family) {
    values.http = get_nimbra_port(PORT_TIMETRACKER_DNS);
    values.https = get_nimbra_port(PORT_WEB_HTTPS);
    values.dns = get_dnsmasq_port();
    for (size_t i = 0; i < count; ++i) {
        const firewall_step &step = steps[i];
        if (step.hook) {
            add_hook(*step.hook, family);
            continue;
        }
        char rule[kRuleSize];
        if (step.fill) step.fill(rule, values);
        apply_iptables_rule(step.table, step.operation, step.chain, step.fill ? rule : step.rule,
                            family);
    }
}
