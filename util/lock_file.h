// Advisory lock files: an exclusive flock on a file that is created on
// demand, so that separate runs take turns.
#ifndef NIMBRA_UTIL_LOCK_FILE_H
#define NIMBRA_UTIL_LOCK_FILE_H

#include "util/result.h"

// Opens path (created with mode 0644) and waits for an exclusive flock on
// it. The descriptor, or -1 after perror("open") when it cannot be opened.
int lock_file_open(const char *path);

// Opens path (created with mode 0644) without locking it; -1 when it
// cannot be opened.
int lock_file_create(const char *path);
// Takes the exclusive lock on fd if nobody holds it: whether it is now held.
bool lock_file_try(int fd);
// Waits for the exclusive lock on fd. A signal may cut the wait short only
// by ending the process; any other error leaves fd unlocked.
void lock_file_wait(int fd);

// Releases the lock and closes fd; a negative fd is ignored. The file stays.
void lock_file_close(int fd);

#endif
