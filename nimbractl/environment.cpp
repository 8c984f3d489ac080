#include "nimbractl/environment.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "util/format.h"
#include "util/shell_safe.h"

namespace {

// "%u" of a 16-bit port never needs more.
constexpr size_t kPortTextSize = 16;

struct port_variable {
    const char *name;
    uint16_t (*port)();
};

uint16_t filterd_port() { return get_nimbra_port(PORT_FILTERD); }
uint16_t timetracker_dns_port() { return get_nimbra_port(PORT_TIMETRACKER_DNS); }
uint16_t dnsmasq_savedq_port() { return get_nimbra_port(PORT_DNSMASQ_SAVEDQ); }
uint16_t ipaddr_manager_port() { return get_nimbra_port(PORT_IPADDR_MANAGER); }

const port_variable kPortVariables[] = {
    {"NIMBRA_DNSMASQ_PORT", get_dnsmasq_port},
    {"NIMBRA_ROUTER_DNSMASQ_PORT", get_router_dnsmasq_port},
    {"NIMBRA_PORT_FILTERD", filterd_port},
    {"NIMBRA_PORT_TIMETRACKER_DNS", timetracker_dns_port},
    {"NIMBRA_PORT_DNSMASQ_SAVEDQ", dnsmasq_savedq_port},
    {"NIMBRA_PORT_IPADDR_MANAGER", ipaddr_manager_port},
};

struct directory_variable {
    const char *name;
    const char *key;
    const char *(*value)();
};

const directory_variable kDirectoryVariables[] = {
    {"NIMBRA_TMP", "nimbra_path.ramdisk", get_nimbra_ramdisk_path},
    {"NIMBRA_DATA", "nimbra_path.data", get_nimbra_data_path},
    {"NIMBRA_DB_PATH", "nimbra_path.db", get_nimbra_db_path},
    {"NIMBRA_LOG", "nimbra_path.log", get_nimbra_log_path},
};

// Values end up inside shell command lines and in paths that stop and reset
// remove trees below; a refusal names the key and the form expected.
const char kDirectoryForm[] =
    "an absolute path of at most 80 characters of letters, digits and / . _ - + @ , = : "
    "without . or .. components";
const char kInterfaceForm[] = "interface names of letters, digits and . _ - + @ , = :, not . or ..";

bool check_safe(const char *key, const char *value, int (*is_safe)(const char *), const char *form) {
    if (is_safe(value)) return true;
    fprintf(stderr, "Unsafe value for %s: expected %s\n", key, form);
    return false;
}

int export_base_paths() {
    // An absent base gives empty paths (with the path builder's message);
    // the start sequence reports the missing root directory. A present one
    // is cached by now, so checking it reads nothing again.
    const char *root = nimbra_file(SLOT_ROOT);
    if (*root && !check_safe("nimbra_path.base", get_nimbra_base_path(), is_safe_directory, kDirectoryForm)) return -1;
    if (setenv("NIMBRA_ROOT", root, 1) < 0) return -1;
    return setenv("NIMBRA_BASE", nimbra_file(SLOT_SHARES), 1);
}

int export_directories() {
    for (const directory_variable &var : kDirectoryVariables) {
        // The store has already named the missing key.
        const char *value = var.value();
        if (!value || !check_safe(var.key, value, is_safe_directory, kDirectoryForm) || setenv(var.name, value, 1) < 0)
            return -1;
    }
    return 0;
}

int export_bridge() {
    char **ifnames = get_nimbra_ifnames();
    if (!ifnames) return -1;
    for (char **name = ifnames; *name; ++name)
        if (!check_safe(get_nimbra_ifnames_key(), *name, is_safe_interface, kInterfaceForm)) return -1;
    return setenv("NIMBRA_BRIDGE", ifnames[0], 1);
}

int export_ports() {
    for (const port_variable &var : kPortVariables) {
        char text[kPortTextSize];
        snprintf(text, sizeof(text), "%u", static_cast<unsigned>(var.port()));
        if (setenv(var.name, text, 1) < 0) return -1;
    }
    return 0;
}

}  // namespace

int export_environment() {
    if (export_base_paths() < 0 || export_directories() < 0 || export_bridge() < 0 ||
        export_ports() < 0)
        return -1;
    if (append_env_path("PATH", nimbra_file(SLOT_ROOT)) < 0) return -1;
    return append_env_path("LD_LIBRARY_PATH", nimbra_file(SLOT_LIB));
}

int append_env_path(const char *name, const char *directory) {
    if (!name || !directory) return -EINVAL;
    const char *old = getenv(name);
    int result;
    if (old) {
        char *joined = alloc_printf("%s:%s", directory, old);
        if (!joined) return -ENOMEM;
        result = setenv(name, joined, 1);
        free(joined);
    } else {
        result = setenv(name, directory, 1);
    }
    if (result < 0) {
        fprintf(stderr, "Error while setting environment variable '%s'\n", name);
        return -1;
    }
    return getenv(name) ? 0 : -1;
}
