// The agent's runit services, in the order every walk over them uses.
#ifndef NIMBRA_SERVICES_H
#define NIMBRA_SERVICES_H

#include <stddef.h>

constexpr size_t kAgentServiceCount = 10;

// Null-terminated: the names, then nullptr.
extern const char *const kAgentServices[kAgentServiceCount + 1];

#endif
