#include "lifecycle/install_guard.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "nimbra_vendor.h"

namespace {

// Whether the real path of directory is that of path or one of its parents.
bool holds(const char *directory, const char *real_path) {
    char real_directory[PATH_MAX];
    if (!*real_path || !realpath(directory, real_directory)) return false;
    if (strcmp(real_directory, "/") == 0) return true;
    const size_t length = strlen(real_directory);
    return strncmp(real_directory, real_path, length) == 0 &&
           (real_path[length] == '/' || real_path[length] == '\0');
}

}  // namespace

bool holds_install(const char *directory, const char *key) {
    const char *installed[] = {get_nimbra_base_path(), nimbra_get_config_path()};
    for (const char *path : installed) {
        char real_path[PATH_MAX];
        if (path && *path && realpath(path, real_path) && holds(directory, real_path)) {
            fprintf(stderr, "%s %s holds the agent's programs or configuration: its files are not removed\n",
                    key, directory);
            return true;
        }
    }
    return false;
}
