// In-place repair of a running agent's network state, for when the router
// rebuilt its firewall or recreated the LAN bridge: the same rule tables and
// addresses as start, without touching the daemons, the service tree, the
// markers or the logs.
#ifndef NIMBRA_LIFECYCLE_REPAIR_H
#define NIMBRA_LIFECYCLE_REPAIR_H

// Called under the lifecycle lock (lifecycle/markers.h), so that a start
// or stop is never half-way. While the running marker exists: the bridge's redirect alias and IPv6
// address, the packet filter of both families with the IP sets, the policy
// routing and the multicast route, each put back where missing. A second
// run changes nothing. Each failure is named on stderr and the rest goes
// on. 0 (also when the agent is not running: nothing is done), or -1 when a
// step failed.
int repair_agent();

#endif
