// Advisory lock files: an exclusive flock on a file that is created on
// demand, so that separate runs take turns.
#ifndef NIMBRA_UTIL_LOCK_FILE_H
#define NIMBRA_UTIL_LOCK_FILE_H

#include "util/result.h"

// Opens path (created with mode 0644) and waits for an exclusive flock on
// it. The descriptor, or -1 after perror("open") when it cannot be opened.
int lock_file_open(const char *path);

// Releases the lock and closes fd; a negative fd is ignored. The file stays.
void lock_file_close(int fd);

#endif
