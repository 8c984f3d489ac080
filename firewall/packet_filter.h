// The agent's whole packet filter, as start builds it and stop takes it
// down; the parts are in chains.h, ipsets.h and the two rule sets. Where the
// vendor library takes batches, each family's changes are applied at once.
#ifndef NIMBRA_FIREWALL_PACKET_FILTER_H
#define NIMBRA_FIREWALL_PACKET_FILTER_H

// Chains for both families, the IP sets, every chain emptied, then the IPv4
// and IPv6 rules. Results are not examined; nothing stops the sequence.
void install_packet_filter();

// install_packet_filter() over a filter that may be intact, damaged or
// gone: IP sets keep their members and policy routing is added only where
// missing, so a second run changes nothing. 0, or -1 when a batch was
// refused (its changes were then applied one at a time).
int repair_packet_filter();

// Every chain emptied and unhooked, then the IP sets destroyed.
void remove_packet_filter();

#endif
