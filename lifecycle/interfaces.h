// Preparation of the LAN interface the agent redirects traffic to.
#ifndef NIMBRA_INTERFACES_H
#define NIMBRA_INTERFACES_H

// The redirect address placed on the first interface as alias label :0
// (the IPv6 one is kRedirectIpv6 of firewall/ipv6_rules.h).
extern const char kRedirectIpv4[];  // "10.123.234.1"

// Gives the first configured interface the redirect alias and IPv6 address,
// copies the hosts file, starts the safe-search script and records the MAC
// address once. 0, or -1 after printing why.
int init_interfaces();

// init_interfaces() with the interfaces looked up under sys_class_net
// instead of /sys/class/net.
int init_interfaces_in(const char *sys_class_net);

// Gives ifname the redirect alias and IPv6 address; the IPv6 address only
// where missing. With repair the alias too (setting it again briefly takes
// its routes away), and a failed command is named on stderr. 0, or -1 when
// a command failed.
int add_redirect_addresses(const char *ifname, bool repair);

// Adds the multicast route to the first interface unless "ip route show"
// has it or the interface has no IPv4 address (stderr says so). 0, or -1
// when the address query or the route command failed.
int ensure_multicast_route();

#endif
