// Firewall changes collected into one batch per family and handed to the
// vendor library's optional nimbra_run_iptables_batch, which applies each
// batch atomically: nobody sees a hook whose chain is still empty. A vendor
// library without that entry point gets one call per change, as before.
#ifndef NIMBRA_FIREWALL_BATCH_H
#define NIMBRA_FIREWALL_BATCH_H

#include "firewall/command.h"
#include "nimbra_vendor.h"

// The vendor library's batch entry point, looked up once; nullptr when the
// library has none.
nimbra_run_iptables_batch_fn vendor_iptables_batch();
// Replaces the looked-up entry point (tests); nullptr means none.
void set_vendor_iptables_batch(nimbra_run_iptables_batch_fn batch);

// Opens a batch when the vendor library has the entry point: until
// commit_firewall_batch, apply_iptables_rule collects changes instead of
// carrying them out. false when there is no entry point (nothing changes).
bool begin_firewall_batch();
// Hands each family's batch to the vendor library and closes the batch. A
// batch the library refuses is carried out one change at a time. 0, or -1
// when a batch was refused (named on stderr).
int commit_firewall_batch();

// Used by the command layer while a batch is open.
bool batch_open();
// Adds a change to its family's batch. A change that would fail and change
// nothing on its own (a chain created twice, flushed or filled before it
// exists, a rule deleted that is not there) is left out so the rest can
// commit; -1 then, else 0.
int batch_add(const char *table, const char *operation, const char *chain, const char *rule,
              ip_family family);
// listing_contains for a listing of one of the agent's tables ("iptables
// -S", "ip6tables -t nat -S", ...) as the open batch will leave it: 1 or 0.
// -1 when no batch is open or the command is no such listing. Rules are
// matched as written, not as the kernel lists them.
int batch_listing_contains(const char *listing, const char *needle);

#endif
