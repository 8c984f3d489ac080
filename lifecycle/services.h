// The agent's runit services, in the order every walk over them uses, and
// the end of their supervision.
#ifndef NIMBRA_SERVICES_H
#define NIMBRA_SERVICES_H

#include <stddef.h>

constexpr size_t kAgentServiceCount = 10;

// Null-terminated: the names, then nullptr.
extern const char *const kAgentServices[kAgentServiceCount + 1];

// After runsvdir was told to stop: waits until no runsvdir, runsv or svlogd
// working in /var/service is left, polling /proc, for at most
// kSupervisionExitMs. Until then an svlogd may still be writing the last
// lines to its log directory; one whose directory is removed meanwhile
// never exits, and neither does its runsv. Returns whether they all went.
constexpr unsigned kSupervisionExitMs = 5000;
bool wait_for_supervision_exit();

#endif
