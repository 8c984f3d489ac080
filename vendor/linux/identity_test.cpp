#include "identity.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/temp_dir.h"

namespace {

const char kOsRelease[] = "/etc/os-release";

// Each field from the first of its files that has a value: the device tree
// on boards, DMI on PCs, os-release on OpenWrt, the machine id for a serial.
TEST(read_identity, takes_each_field_from_its_first_source_with_a_value) {
    const std::string cut(127, 'v');
    // Files below the root, and the five fields read from them (nullptr: none).
    const struct { std::map<std::string, std::string> files; const char *fields[kIdentityFields]; } cases[] = {
        {{}, {}},
        {{{kOsRelease, "NAME=\"OpenWrt\"\nVERSION_ID=\"23.05.2\"\nOPENWRT_DEVICE_MANUFACTURER='Acme Inc'\n"
                       "OPENWRT_DEVICE_PRODUCT=R7 \t\r\nOPENWRT_DEVICE_REVISION=\"v2'\n"}},
         {"Acme Inc", "R7", nullptr, "23.05.2", "\"v2'"}},
        {{{"/proc/device-tree/model", std::string("Board X\0junk", 12)}, {"/etc/machine-id", "0123abcd\n"},
          {"/proc/device-tree/serial-number", "\n"}, {"/sys/class/dmi/id/product_name", "PC"},
          {kOsRelease, "BUILD_ID=r1\n"}},
         {nullptr, "Board X", "0123abcd", "r1", nullptr}},
        {{{"/sys/class/dmi/id/sys_vendor", "Dell Inc.\n"}, {"/sys/class/dmi/id/product_serial", "S9"},
          {"/sys/class/dmi/id/product_version", " \n"},
          {kOsRelease, "OPENWRT_DEVICE_MANUFACTURER=Acme\nVERSION_ID_X=9\nVERSION_ID=\nBUILD_ID=r1\n"
                       "OPENWRT_DEVICE_REVISION=\"\"\n"},
          {"/usr/lib/os-release", "OPENWRT_DEVICE_PRODUCT=Lib\nVERSION_ID=8\nOPENWRT_DEVICE_REVISION=v3\n"}},
         {"Dell Inc.", "Lib", "S9", "8", "v3"}},
        {{{kOsRelease, "VERSION_ID=" + std::string(200, 'v')}}, {nullptr, nullptr, nullptr, cut.c_str()}},
    };
    for (const auto &c : cases) {
        temp_dir root;
        for (const auto &file : c.files) write_text(root.path + file.first, file.second);
        for (int field = kVendorName; field < kIdentityFields; ++field) {
            const char *value = read_identity(static_cast<identity_field>(field), root.path.c_str());
            const char *expected = c.fields[field];
            EXPECT_EQ(value ? value : "<none>", std::string(expected ? expected : "<none>")) << field;
        }
    }
}

}  // namespace
