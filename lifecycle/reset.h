// Factory reset: stop the agent, delete what it learned and downloaded,
// start it again if it was running.
#ifndef NIMBRA_LIFECYCLE_RESET_H
#define NIMBRA_LIFECYCLE_RESET_H

// Holds the lifecycle lock (lifecycle/markers.h) for its whole run; a reset
// that finds another one holding it does nothing. A data or database
// directory that holds the agent's programs or configuration is named on
// stderr and left as it is. Always 0; failures are reported on stderr.
int factory_reset();

#endif
