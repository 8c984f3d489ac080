// Router identity read from what a Linux system records about itself:
// the device tree on embedded boards, DMI on PC-class hardware, os-release
// (OpenWrt puts the device's maker, product and revision there) and the
// machine id. Each field takes the first source that has a value.
#include "identity.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "nimbra_vendor.h"

namespace {

// A source is a whole file (key nullptr) or one key of an os-release style
// file; a field's sources are listed in the order they are tried.
struct identity_source {
    identity_field field;
    const char *path;
    const char *key;
};

const identity_source kSources[] = {
    {kVendorName, "/sys/class/dmi/id/sys_vendor", nullptr},
    {kVendorName, "/etc/os-release", "OPENWRT_DEVICE_MANUFACTURER"},
    {kVendorName, "/usr/lib/os-release", "OPENWRT_DEVICE_MANUFACTURER"},
    {kRouterModel, "/proc/device-tree/model", nullptr},
    {kRouterModel, "/sys/class/dmi/id/product_name", nullptr},
    {kRouterModel, "/etc/os-release", "OPENWRT_DEVICE_PRODUCT"},
    {kRouterModel, "/usr/lib/os-release", "OPENWRT_DEVICE_PRODUCT"},
    {kRouterSerial, "/proc/device-tree/serial-number", nullptr},
    {kRouterSerial, "/sys/class/dmi/id/product_serial", nullptr},
    {kRouterSerial, "/etc/machine-id", nullptr},
    {kFwVersion, "/etc/os-release", "VERSION_ID"},
    {kFwVersion, "/usr/lib/os-release", "VERSION_ID"},
    {kFwVersion, "/etc/os-release", "BUILD_ID"},
    {kHwVersion, "/sys/class/dmi/id/product_version", nullptr},
    {kHwVersion, "/etc/os-release", "OPENWRT_DEVICE_REVISION"},
    {kHwVersion, "/usr/lib/os-release", "OPENWRT_DEVICE_REVISION"},
};

constexpr size_t kFieldSize = 128;

void trim(char *text) {
    size_t len = strcspn(text, "\r\n");
    text[len] = '\0';
    while (len > 0 && (text[len - 1] == ' ' || text[len - 1] == '\t')) text[--len] = '\0';
}

// Copies the value of KEY=value (quotes removed) into out; false when absent.
bool read_key(FILE *file, const char *key, char *out, size_t size) {
    char line[256];
    size_t key_len = strlen(key);
    while (fgets(line, sizeof(line), file)) {
        if (strncmp(line, key, key_len) != 0 || line[key_len] != '=') continue;
        char *value = line + key_len + 1;
        trim(value);
        size_t len = strlen(value);
        if (len >= 2 && (value[0] == '"' || value[0] == '\'') && value[len - 1] == value[0]) {
            value[len - 1] = '\0';
            ++value;
        }
        snprintf(out, size, "%s", value);
        return true;
    }
    return false;
}

bool read_source(const char *root, const identity_source &source, char *out, size_t size) {
    char path[PATH_MAX];
    snprintf(path, sizeof(path), "%s%s", root, source.path);
    FILE *file = fopen(path, "r");
    if (!file) return false;
    bool found;
    if (source.key) {
        found = read_key(file, source.key, out, size);
    } else {
        // Device-tree strings end in NUL rather than a newline.
        size_t n = fread(out, 1, size - 1, file);
        out[n] = '\0';
        trim(out);
        found = true;
    }
    fclose(file);
    return found && out[0] != '\0';
}

}  // namespace

const char *read_identity(identity_field field, const char *root) {
    static char values[kIdentityFields][kFieldSize];
    for (const identity_source &source : kSources)
        if (source.field == field && read_source(root, source, values[field], kFieldSize)) return values[field];
    return nullptr;
}

const char *nimbra_get_vendor_name(void) { return read_identity(kVendorName, ""); }
const char *nimbra_get_router_model(void) { return read_identity(kRouterModel, ""); }
const char *nimbra_get_router_serialnum(void) { return read_identity(kRouterSerial, ""); }
const char *nimbra_get_router_fw_version(void) { return read_identity(kFwVersion, ""); }
const char *nimbra_get_router_hw_version(void) { return read_identity(kHwVersion, ""); }
