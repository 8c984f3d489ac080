// The kernel IP sets that the agent's rules match against; the agent's
// daemons fill them, this program only creates and destroys them.
#ifndef NIMBRA_FIREWALL_IPSETS_H
#define NIMBRA_FIREWALL_IPSETS_H

// Echoes and runs "ipset create NAME OPTIONS" for each of the thirteen sets.
// An existing set fails to be created and keeps its members.
void create_ip_sets();
// Echoes and runs "ipset -X NAME" for the same sets in the same order; a set
// that a rule still names survives.
void destroy_ip_sets();

#endif
