// File helpers; of their negated errno results, -EINVAL stands for a
// missing argument or zero size, -EIO for a file that cannot be opened.
#ifndef NIMBRA_UTIL_FILES_H
#define NIMBRA_UTIL_FILES_H

#include <stddef.h>
#include <sys/types.h>

#include "util/result.h"

// 1 when stat() succeeds on path (any kind of file), else 0.
int file_exists(const char *path);
// 1 when path is a regular file with at least one byte, else 0: an empty
// file is what a write cut short by a power loss leaves.
int file_has_data(const char *path);
// 1 when path is a directory (following links), else 0.
int is_directory(const char *path);
// Creates an empty file (mode 0644) if missing; never changes an existing
// one. 0, or -1 when it cannot be opened.
int touch_file(const char *path);
// Reads at most size - 1 bytes and NUL-terminates them; the byte count.
int read_file(const char *path, char *buffer, size_t size);
// Replaces the file with one holding count bytes, written beside it and
// renamed over it once on disk, so that a reader (or a power loss) sees the
// old file or the whole new one. The bytes written; -EIO when the file
// beside it cannot be made or renamed over path, and then nothing changes.
int write_file(const char *path, const void *data, size_t count);
// write_file() of a string without its NUL.
int write_file_string(const char *path, const char *text);

// mkdir -p: every missing parent, then path itself. The result of the last
// mkdir() (so -1 when path already exists), -EINVAL or -ENOMEM.
int mkdir_recursive(const char *path, mode_t mode);

#endif
