// The start sequence: validate, lay out the service tree, prepare the
// interface and packet filter, launch the services.
#ifndef NIMBRA_START_H
#define NIMBRA_START_H

// 0 when the agent was started or was already running or starting (nothing
// done); -1 when a check failed or the starting marker could not be made,
// after saying which on stderr (stdout for the TPROXY port rule).
int start_agent();

#endif
