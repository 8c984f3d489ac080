// The agent's IPv6 packet filter and the router's link-local addresses.
#ifndef NIMBRA_FIREWALL_IPV6_RULES_H
#define NIMBRA_FIREWALL_IPV6_RULES_H

#include <stdio.h>

// Fills the agent's (empty) IPv6 filter chains, then for each interface with
// a link-local address the redirects of the configured variant (DNAT in nat,
// or TPROXY in mangle with policy routing). Failed commands are passed over.
void install_ipv6_rules();
// install_ipv6_rules() with the addresses read from if_inet6 instead of
// /proc/net/if_inet6.
void install_ipv6_rules_from(const char *if_inet6);

// The router's IPv6 redirect address: the rules send web traffic there, and
// start puts it on the first interface.
extern const char kRedirectIpv6[];  // "fd22:9464:dfb8::1"

// Room for an address text in get_iface_ipv6's buffer.
constexpr size_t kIpv6TextSize = 80;

// The interface's first link-local (fe80::/10) address from
// /proc/net/if_inet6 as text into buffer (kIpv6TextSize bytes). 0, ENOENT
// when the file cannot be opened (after a message on stderr), or ENODEV.
int get_iface_ipv6(const char *interface, char *buffer);
// The same search over an open if_inet6 stream, read to the match or the
// end; 0 or ENODEV. The stream stays open.
int find_iface_ipv6(FILE *if_inet6, const char *interface, char *buffer);

#endif
