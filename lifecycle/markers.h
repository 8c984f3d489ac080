// Runtime state markers: empty files whose presence is the agent's state,
// through which separate runs of the program keep out of each other's way.
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

// While path exists: puts(line), sleep one second. No time limit.
void wait_while_exists(const char *path, const char *line);

#endif
