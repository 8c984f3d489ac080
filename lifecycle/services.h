// The agent's runit services, in the order every walk over them uses.
#ifndef NIMBRA_SERVICES_H
#define NIMBRA_SERVICES_H

// Null-terminated: ten names, then nullptr.
extern const char *const kAgentServices[11];

#endif
