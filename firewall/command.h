// The firewall command layer: every change to the packet filter is echoed
// here and handed to the vendor library, and the rule sets are walked here
// as tables of steps.
#ifndef NIMBRA_FIREWALL_COMMAND_H
#define NIMBRA_FIREWALL_COMMAND_H

#include <stddef.h>

// Prints "--> iptables -t TABLE OP CHAIN RULE" ("ip6tables" when family is
// non-zero, "" for a null rule), then passes the five values unchanged to
// nimbra_run_iptables_command. Returns the vendor result (negative: failed).
int apply_iptables_rule(const char *table, const char *operation, const char *chain,
                        const char *rule, int family);
// apply_iptables_rule in table "nat" / "mangle".
int apply_nat_rule(const char *operation, const char *chain, const char *rule, int family);
int apply_mangle_rule(const char *operation, const char *chain, const char *rule, int family);

// A rule text with its values filled in is cut to this size.
constexpr size_t kRuleSize = 1024;

// A jump from a built-in chain into one of the agent's chains. needle is
// what the "-S" listing of the family shows while the hook is in.
struct firewall_hook {
    const char *table;
    const char *chain;       // built-in chain holding the jump
    const char *operation;   // how it is added: "-I" at the head, "-A" at the end
    const char *rule;        // "-j CHAIN"
    const char *needle;
    const char *listing[2];  // IPv4, IPv6 listing of the table
};

// 1 when the family's listing shows the hook, else 0; reads the listing once.
int hook_listed(const firewall_hook &hook, int family);
// Adds the hook unless the family's listing already shows it or the router
// owns the agent's hooks; the listing is read in either case.
void add_hook(const firewall_hook &hook, int family);

// The values that fill a rule template's conversions, in this order.
enum rule_shape : unsigned char {
    SHAPE_FIXED,    // none: the text is applied as it is
    SHAPE_P,        // port
    SHAPE_I,        // interface
    SHAPE_I_P,      // interface, port
    SHAPE_R_P,      // redirect address, port
    SHAPE_I_R_P,    // interface, redirect address, port
    SHAPE_I_R_R_P,  // interface, redirect address twice, port
    SHAPE_I_A_A_P,  // interface, the router's own address on it twice, port
};

// The port a template names: redirect targets of web traffic, or the
// agent's DNS forwarder.
enum rule_port : unsigned char { NO_PORT, REDIRECT_HTTP, REDIRECT_HTTPS, DNS_FORWARDER };

// One step of a rule set: a hook to add (hook set), or a rule template.
struct firewall_step {
    const firewall_hook *hook;
    const char *table;
    const char *operation;
    const char *chain;
    const char *rule;  // nullptr for "-N" and "-F"
    rule_shape shape;
    rule_port port;
};

constexpr firewall_step hook_step(const firewall_hook &hook) {
    return {&hook, nullptr, nullptr, nullptr, nullptr, SHAPE_FIXED, NO_PORT};
}

constexpr firewall_step rule_step(const char *table, const char *operation, const char *chain,
                                  const char *rule, rule_shape shape = SHAPE_FIXED,
                                  rule_port port = NO_PORT) {
    return {nullptr, table, operation, chain, rule, shape, port};
}

// Values for the conversions of the steps applied for one interface.
struct rule_values {
    const char *interface;
    const char *address;   // the router's own address on interface
    const char *redirect;  // the redirect address
};

// Applies each step in order with family, templates filled from values and
// the configured ports.
void apply_steps(const firewall_step *steps, size_t count, const rule_values &values, int family);

template <size_t N>
void apply_steps(const firewall_step (&steps)[N], const rule_values &values, int family) {
    apply_steps(steps, N, values, family);
}

#endif
