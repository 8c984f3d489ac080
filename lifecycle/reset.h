// Factory reset: stop the agent, delete what it learned and downloaded,
// start it again if it was running.
#ifndef NIMBRA_LIFECYCLE_RESET_H
#define NIMBRA_LIFECYCLE_RESET_H

// Always 0; failures are reported on stderr.
int factory_reset();

#endif
