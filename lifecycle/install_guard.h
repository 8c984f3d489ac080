// Removals that must spare the agent's install: a data, database or log
// directory set to the parent of the agent's programs or of its
// configuration (or to / or /overlay) would delete them with it.
#ifndef NIMBRA_LIFECYCLE_INSTALL_GUARD_H
#define NIMBRA_LIFECYCLE_INSTALL_GUARD_H

// Whether directory is, or contains, the agent's base directory or its
// configuration file, compared by real path so that ".." and links do not
// hide it. When it is, says so on stderr naming the setting key.
bool holds_install(const char *directory, const char *key);

#endif
