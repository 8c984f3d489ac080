// The firewall command layer: every change to the packet filter is echoed
// here and handed to the vendor library (one call per change, or in a batch,
// see firewall/batch.h), and the rule sets are walked here as tables of steps.
#ifndef NIMBRA_FIREWALL_COMMAND_H
#define NIMBRA_FIREWALL_COMMAND_H

#include <stddef.h>
#include <stdio.h>

#include "util/result.h"

// The vendor API's family argument.
enum ip_family : int { FAMILY_IPV4 = 0, FAMILY_IPV6 = 1 };

constexpr ip_family kFamilies[] = {FAMILY_IPV4, FAMILY_IPV6};

// Prints "--> iptables -t TABLE OP CHAIN RULE" ("ip6tables" for IPv6, "" for
// a null rule), then passes the five values unchanged to
// nimbra_run_iptables_command, or adds the change to an open batch. The
// vendor result (negative: failed); 0 once batched, -1 when the batch knows
// the change would fail (it is then left out).
int apply_iptables_rule(const char *table, const char *operation, const char *chain,
                        const char *rule, ip_family family);

// 1 when a line of the listing command's output contains needle. While a
// batch is open, listings of the agent's tables are answered from what the
// batch has made of them.
int listing_contains(const char *listing, const char *needle);

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
int hook_listed(const firewall_hook &hook, ip_family family);
// Adds the hook unless the family's listing already shows it or the router
// owns the agent's hooks; the listing is read in either case.
void add_hook(const firewall_hook &hook, ip_family family);

// The values that fill a rule template, for the steps of one interface.
// apply_steps fills in the ports from the configuration.
struct rule_values {
    const char *interface;
    const char *address;   // the router's own address on interface
    const char *redirect;  // the redirect address
    unsigned http = 0;     // redirect target of port 80
    unsigned https = 0;    // redirect target of port 443
    int dns = 0;           // the agent's DNS forwarder
};

// Writes a step's rule text with its values into out (kRuleSize bytes).
using rule_template = void (*)(char *out, const rule_values &values);

// One step of a rule set: a hook to add, a fixed rule or a rule template.
struct firewall_step {
    const firewall_hook *hook;
    const char *table;
    const char *operation;
    const char *chain;
    const char *rule;  // fixed text; nullptr for "-N", "-F" or a template
    rule_template fill;
};

constexpr firewall_step hook_step(const firewall_hook &hook) {
    return {&hook, nullptr, nullptr, nullptr, nullptr, nullptr};
}

constexpr firewall_step rule_step(const char *table, const char *operation, const char *chain,
                                  const char *rule) {
    return {nullptr, table, operation, chain, rule, nullptr};
}

// A step whose rule is a printf template, checked against its arguments by
// the compiler; the arguments name members of the rule_values v.
#define NIMBRA_RULE_TEMPLATE(table, operation, chain, format, ...)                         \
    firewall_step {                                                                        \
        nullptr, table, operation, chain, nullptr,                                         \
            [](char *out, const rule_values &v) { snprintf(out, kRuleSize, format, __VA_ARGS__); } \
    }

// Applies each step in order with family.
void apply_steps(const firewall_step *steps, size_t count, rule_values values, ip_family family);

template <size_t N>
void apply_steps(const firewall_step (&steps)[N], const rule_values &values, ip_family family) {
    apply_steps(steps, N, values, family);
}

#endif
