// Addresses of network interfaces, asked from the kernel.
#ifndef NIMBRA_UTIL_NETIF_H
#define NIMBRA_UTIL_NETIF_H

#include <stddef.h>
#include <stdio.h>

#include "util/result.h"

// Dotted IPv4 text of the interface's address (name cut to 15 characters)
// into buffer. 0; -EADDRNOTAVAIL (buffer "") when the interface has no IPv4
// address; the negated errno of socket() when no socket could be opened.
int get_iface_ipv4(const char *interface, char *buffer, size_t size);

// Room for an address text in get_iface_ipv6's buffer.
constexpr size_t kIpv6TextSize = 80;

// The interface's first link-local (fe80::/10) address from
// /proc/net/if_inet6 as text into buffer (kIpv6TextSize bytes). 0, or a
// positive error number: ENOENT when the file cannot be opened (after a
// message on stderr), ENODEV when the interface has no link-local address.
int get_iface_ipv6(const char *interface, char *buffer);
// The same search over an open if_inet6 stream, read to the match or the
// end; 0 or ENODEV. The stream stays open.
int find_iface_ipv6(FILE *if_inet6, const char *interface, char *buffer);

#endif
