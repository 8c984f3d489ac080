// The agent's IPv6 packet filter and the router's link-local addresses.
#ifndef NIMBRA_FIREWALL_IPV6_RULES_H
#define NIMBRA_FIREWALL_IPV6_RULES_H

// Fills the agent's (empty) IPv6 filter chains, then for each interface with
// a link-local address the redirects of the configured variant (DNAT in nat,
// or TPROXY in mangle with policy routing). Failed commands are passed over.
// With repair, the TPROXY policy rule and its route are added only when
// missing, so that running it again adds nothing.
void install_ipv6_rules(bool repair = false);

// The router's IPv6 redirect address: the rules send web traffic there, and
// start puts it on the first interface.
extern const char kRedirectIpv6[];  // "fd22:9464:dfb8::1"

#endif
