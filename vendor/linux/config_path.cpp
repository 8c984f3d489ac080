// Where the configuration lives on a generic Linux router.
#include "nimbra_vendor.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

const char kDefaultConfigPath[] = "/etc/nimbra/nimbra.ini";

}  // namespace

const char *nimbra_get_config_path(void) {
    // Copied once: the program keeps the pointer for the whole run while it
    // rewrites other environment variables.
    static char path[PATH_MAX];
    if (path[0] == '\0') {
        const char *from_env = getenv("NIMBRA_CONFIG");
        snprintf(path, sizeof(path), "%s",
                 from_env && *from_env ? from_env : kDefaultConfigPath);
    }
    return path;
}
