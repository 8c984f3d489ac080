// Configured values that end up inside shell command lines and in paths
// below which stop and reset remove trees.
#ifndef NIMBRA_UTIL_SHELL_SAFE_H
#define NIMBRA_UTIL_SHELL_SAFE_H

// 1 when a configured value can stand in a shell command line as it is:
// letters, digits and / . _ - + @ , = : only.
int is_shell_safe(const char *value);

// 1 when a configured directory is shell-safe, absolute, at most 80
// characters, not "/" itself and free of "." and ".." components.
int is_safe_directory(const char *value);

// 1 when an interface name is shell-safe, has no "/" and is not "." or "..".
int is_safe_interface(const char *name);

#endif
