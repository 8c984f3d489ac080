// Router identity read from what a Linux system records about itself:
// the device tree on embedded boards, DMI on PC-class hardware, os-release
// (OpenWrt puts the device's maker, product and revision there) and the
// machine id. Each field takes the first source that has a value.
#include "nimbra_vendor.h"

#include <stdio.h>
#include <string.h>

namespace {

// A source is a whole file ("path", nullptr) or one key of an os-release
// style file ("path", "KEY").
struct identity_source {
    const char *path;
    const char *key;
};

const identity_source kVendorSources[] = {
    {"/sys/class/dmi/id/sys_vendor", nullptr},
    {"/etc/os-release", "OPENWRT_DEVICE_MANUFACTURER"},
    {"/usr/lib/os-release", "OPENWRT_DEVICE_MANUFACTURER"},
};
const identity_source kModelSources[] = {
    {"/proc/device-tree/model", nullptr},
    {"/sys/class/dmi/id/product_name", nullptr},
    {"/etc/os-release", "OPENWRT_DEVICE_PRODUCT"},
    {"/usr/lib/os-release", "OPENWRT_DEVICE_PRODUCT"},
};
const identity_source kSerialSources[] = {
    {"/proc/device-tree/serial-number", nullptr},
    {"/sys/class/dmi/id/product_serial", nullptr},
    {"/etc/machine-id", nullptr},
};
const identity_source kFwVersionSources[] = {
    {"/etc/os-release", "VERSION_ID"},
    {"/usr/lib/os-release", "VERSION_ID"},
    {"/etc/os-release", "BUILD_ID"},
};
const identity_source kHwVersionSources[] = {
    {"/sys/class/dmi/id/product_version", nullptr},
    {"/etc/os-release", "OPENWRT_DEVICE_REVISION"},
    {"/usr/lib/os-release", "OPENWRT_DEVICE_REVISION"},
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

bool read_source(const identity_source &source, char *out, size_t size) {
    FILE *file = fopen(source.path, "r");
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

template <size_t N>
const char *first_found(const identity_source (&sources)[N], char (&value)[kFieldSize]) {
    for (const identity_source &source : sources)
        if (read_source(source, value, sizeof(value))) return value;
    return nullptr;
}

}  // namespace

const char *nimbra_get_vendor_name(void) {
    static char value[kFieldSize];
    return first_found(kVendorSources, value);
}

const char *nimbra_get_router_model(void) {
    static char value[kFieldSize];
    return first_found(kModelSources, value);
}

const char *nimbra_get_router_serialnum(void) {
    static char value[kFieldSize];
    return first_found(kSerialSources, value);
}

const char *nimbra_get_router_fw_version(void) {
    static char value[kFieldSize];
    return first_found(kFwVersionSources, value);
}

const char *nimbra_get_router_hw_version(void) {
    static char value[kFieldSize];
    return first_found(kHwVersionSources, value);
}
