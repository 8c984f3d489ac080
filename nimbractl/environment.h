// The agent's environment, exported before any command runs so that every
// shell command and daemon started later inherits it.
#ifndef NIMBRA_ENVIRONMENT_H
#define NIMBRA_ENVIRONMENT_H

// Exports the fifteen NIMBRA_* / PATH / LD_LIBRARY_PATH variables in order,
// stopping at the first failure. 0, or -1 after printing why (an unsafe or
// missing setting, a failed setenv).
int export_environment();

// Puts directory in front of a search-path variable ("dir:old", or "dir"
// when unset). 0, or -1 when the variable could not be set.
int append_env_path(const char *name, const char *directory);

#endif
