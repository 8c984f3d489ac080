// The agent's IPv4 packet filter.
#ifndef NIMBRA_FIREWALL_IPV4_RULES_H
#define NIMBRA_FIREWALL_IPV4_RULES_H

// Fills the agent's (empty) IPv4 chains and adds the missing hooks: filter
// chains, web redirects, per-interface DNS interception, INPUT accepts.
// An interface without an IPv4 address gets no DNS interception (one line on
// stderr says so). Failed commands are passed over.
void install_ipv4_rules();

#endif
