// Addresses of network interfaces, asked from the kernel.
#ifndef NIMBRA_UTIL_NETIF_H
#define NIMBRA_UTIL_NETIF_H

#include <stddef.h>

// Dotted IPv4 text of the interface's address (name cut to 15 characters)
// into buffer. 0, or -1 with buffer "" when there is no socket or the
// interface has no IPv4 address.
int get_iface_ipv4(const char *interface, char *buffer, size_t size);

#endif
