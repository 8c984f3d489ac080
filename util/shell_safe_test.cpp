#include "util/shell_safe.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Configured values end up in shell command lines and in paths below which
// stop and reset remove trees.
TEST(shell_safe, directories_are_plain_absolute_paths_interfaces_plain_names) {
    const std::string longest = "/" + std::string(79, 'd');
    const struct { std::string value; int directory, interface; } cases[] = {
        {"/opt/nimbra-1.0/a_b+c@d,e=f:g/", 1, 0},
        {"br-lan.1", 0, 1},
        {"/tmp/..log", 1, 0},
        {"/a./b.", 1, 0},
        {longest, 1, 0},
        {longest + "d", 0, 0},
        {"", 0, 0},         {"..", 0, 0},      {"/", 0, 0},       {"//", 0, 0},         {"/a/../b", 0, 0},
        {"/a/.", 0, 0},     {"a/b", 0, 0},     {"/a b", 0, 0},    {"/a'b\"", 0, 0},     {"br0$(id)`id`", 0, 0},
        {"/a|b&c;d>e*?[", 0, 0}, {"/a\n", 0, 0}, {"/caf\xc3\xa9", 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(is_safe_directory(c.value.c_str()), c.directory) << c.value;
        EXPECT_EQ(is_safe_interface(c.value.c_str()), c.interface) << c.value;
    }
}

}  // namespace
