// The agent's chains in the filter, nat and mangle tables of both families,
// and the hooks that lead into them from the built-in chains.
#ifndef NIMBRA_FIREWALL_CHAINS_H
#define NIMBRA_FIREWALL_CHAINS_H

#include "firewall/command.h"

// Hooks: added by the rule sets, removed by teardown_chains.
extern const firewall_hook kForwardHook;      // FORWARD -> NIMBRA_FILTERS, at the head
extern const firewall_hook kInputHook;        // INPUT -> NIMBRA_INPUT, at the head
extern const firewall_hook kNatHook;          // nat PREROUTING -> NIMBRA_NAT, at the end
extern const firewall_hook kNatFilteredHook;  // nat PREROUTING -> NIMBRA_NAT_FILTERED
extern const firewall_hook kMangleHook;       // IPv6 mangle PREROUTING -> NIMBRA_MANGLE

// Creates the family's chains: only UNMANAGED, PAUSE and
// FILTERED when the router owns the rest. Failures (chain exists) are ignored.
void create_chains(ip_family family);

// Empties the family's chains of the configured variant and takes out their
// hooks unless the router owns them. Chains are never deleted.
void teardown_chains(ip_family family);

#endif
