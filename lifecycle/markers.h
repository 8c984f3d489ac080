// Runtime state markers: empty files whose presence is the agent's state,
// through which separate runs of the program keep out of each other's way;
// and the lifecycle lock that makes their test and their change one step.
#ifndef NIMBRA_MARKERS_H
#define NIMBRA_MARKERS_H

#include "util/result.h"

// Paths (path slots 7 to 10); "" when the ram directory is not configured.
const char *status_dir_path();
const char *running_marker_path();
const char *starting_marker_path();
const char *resetting_marker_path();

// Creates path (empty, mode 0644) only if it does not exist yet, in one
// step, so that two runs cannot both take it. 0 when this run created it,
// 1 when it already existed, -1 when it could not be created.
int claim_marker(const char *path);

// While path exists, for at most max_seconds: puts(line), sleep one
// second.
void wait_while_exists(const char *path, const char *line, unsigned max_seconds);
// For a marker that only this run could remove: long enough for a slow
// file system, short where nobody else will.
constexpr unsigned kMarkerWaitSeconds = 3;

// The lifecycle lock: start, stop, restart, reset, pfc's start and the
// repair each hold it for their whole run, so that each decides on the
// markers and acts on that decision before the next one looks. Its file
// lives in the ram directory itself, where stop and reset leave it.
// Whoever holds it is the only run that can be starting or resetting: a
// marker of either kind found under it was left by a run that died.
const char *lifecycle_lock_path();  // "" when the ram directory is not configured

// Opens the lock file without locking: the descriptor, or -1 (named on
// stderr unless the ram directory does not exist) when the run must go
// on without the lock.
int open_lifecycle_lock();
// Says once on stderr that this run waits for the one holding the lock.
void say_lock_wait();
// open_lifecycle_lock, then the lock, waited for (and said so) when another
// run holds it. The descriptor for release_lifecycle_lock, or -1 unlocked.
int take_lifecycle_lock();
void release_lifecycle_lock(int lock);

#endif
