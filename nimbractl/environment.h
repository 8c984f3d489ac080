// The agent's environment, exported before any command runs so that every
// shell command and daemon started later inherits it.
#ifndef NIMBRA_ENVIRONMENT_H
#define NIMBRA_ENVIRONMENT_H

#include <sys/types.h>

// Exports the fifteen NIMBRA_* / PATH / LD_LIBRARY_PATH variables in order,
// stopping at the first failure. 0, or -1 after printing why (an unsafe or
// missing setting, a failed setenv).
int export_environment();

// Puts directory in front of a search-path variable ("dir:old", or "dir"
// when unset). 0, or -1 when the variable could not be set.
int append_env_path(const char *name, const char *directory);

// A vasprintf'ed string the caller frees, or nullptr.
char *alloc_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// mkdir -p: every missing parent, then path itself. The result of the last
// mkdir() (so -1 when path already exists), -EINVAL or -ENOMEM.
int mkdir_recursive(const char *path, mode_t mode);

// 1 when a configured value can stand in a shell command line as it is:
// letters, digits and / . _ - + @ , = : only.
int is_shell_safe(const char *value);

// 1 when a configured directory is shell-safe, absolute, at most 80
// characters, not "/" itself and free of "." and ".." components: the
// program removes trees below these directories.
int is_safe_directory(const char *value);

#endif
