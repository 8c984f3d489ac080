#include "firewall/command.h"

#include <stdio.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "nimbra_vendor.h"
#include "util/process.h"

namespace {

unsigned port_value(rule_port port) {
    switch (port) {
    case REDIRECT_HTTP: return get_nimbra_port(PORT_TIMETRACKER_DNS);
    case REDIRECT_HTTPS: return get_nimbra_port(PORT_WEB_HTTPS);
    case DNS_FORWARDER: return get_dnsmasq_port();
    case NO_PORT: break;
    }
    return 0;
}

// The templates come from the rule tables, never from outside; their
// conversions are %s for texts and %u or %d for a port below 65536, which an
// unsigned argument fills either way.
const char *render_rule(const firewall_step &step, const rule_values &v, char (&out)[kRuleSize]) {
    const unsigned port = port_value(step.port);
    switch (step.shape) {
    case SHAPE_FIXED: return step.rule;
    case SHAPE_P: snprintf(out, sizeof(out), step.rule, port); break;
    case SHAPE_I: snprintf(out, sizeof(out), step.rule, v.interface); break;
    case SHAPE_I_P: snprintf(out, sizeof(out), step.rule, v.interface, port); break;
    case SHAPE_R_P: snprintf(out, sizeof(out), step.rule, v.redirect, port); break;
    case SHAPE_I_R_P: snprintf(out, sizeof(out), step.rule, v.interface, v.redirect, port); break;
    case SHAPE_I_R_R_P:
        snprintf(out, sizeof(out), step.rule, v.interface, v.redirect, v.redirect, port);
        break;
    case SHAPE_I_A_A_P:
        snprintf(out, sizeof(out), step.rule, v.interface, v.address, v.address, port);
        break;
    }
    return out;
}

}  // namespace

int apply_iptables_rule(const char *table, const char *operation, const char *chain,
                        const char *rule, int family) {
    printf("--> %s -t %s %s %s %s\n", family ? "ip6tables" : "iptables", table, operation, chain,
           rule ? rule : "");
    // The vendor library's tools write straight to the terminal; the echo
    // goes first so that their complaints follow the line they belong to.
    fflush(stdout);
    return nimbra_run_iptables_command(table, operation, chain, rule, family);
}

int apply_nat_rule(const char *operation, const char *chain, const char *rule, int family) {
    return apply_iptables_rule("nat", operation, chain, rule, family);
}

int apply_mangle_rule(const char *operation, const char *chain, const char *rule, int family) {
    return apply_iptables_rule("mangle", operation, chain, rule, family);
}

int hook_listed(const firewall_hook &hook, int family) {
    const char *listing = hook.listing[family ? 1 : 0];
    return listing ? command_output_contains(listing, hook.needle) : 0;
}

void add_hook(const firewall_hook &hook, int family) {
    if (!hook_listed(hook, family) && !get_chains_handled_by_router())
        apply_iptables_rule(hook.table, hook.operation, hook.chain, hook.rule, family);
}

void apply_steps(const firewall_step *steps, size_t count, const rule_values &values, int family) {
    for (size_t i = 0; i < count; ++i) {
        const firewall_step &step = steps[i];
        if (step.hook) {
            add_hook(*step.hook, family);
            continue;
        }
        char rule[kRuleSize];
        apply_iptables_rule(step.table, step.operation, step.chain, render_rule(step, values, rule),
                            family);
    }
}
