// The agent's whole packet filter, as start builds it and stop takes it
// down; the parts are in chains.h, ipsets.h and the two rule sets.
#ifndef NIMBRA_FIREWALL_PACKET_FILTER_H
#define NIMBRA_FIREWALL_PACKET_FILTER_H

// Chains for both families, the IP sets, every chain emptied, then the IPv4
// and IPv6 rules. Results are not examined; nothing stops the sequence.
void install_packet_filter();

// Every chain emptied and unhooked, then the IP sets destroyed.
void remove_packet_filter();

#endif
