#include "util/netif.h"

#include <errno.h>
#include <gtest/gtest.h>

namespace {

// A global address and a longer name come before br0's link-local address.
const char kIfInet6[] =
    "not an address line\n"
    "fd220000000000000000000000000001 03 40 00 80      br0\n"
    "fe800000000000000000000000000abc 04 40 20 80    br0.1\n"
    "fec00000000000000000000000000005 03 40 20 80      br0\n"
    "fe80000000000000021122fffe334455 03 40 20 80      br0\n"
    "febf0000000000000000000000000007 05 40 00 80     eth1\n";

TEST(find_iface_ipv6, takes_first_link_local_of_exact_name) {
    const struct { const char *interface; int result; const char *address; } cases[] = {
        {"br0", 0, "fe80::211:22ff:fe33:4455"}, {"br0.1", 0, "fe80::abc"}, {"eth1", 0, "febf::7"},
        {"br", ENODEV, ""},
    };
    for (const auto &c : cases) {
        FILE *stream = fmemopen(const_cast<char *>(kIfInet6), sizeof(kIfInet6) - 1, "r");
        char buffer[kIpv6TextSize] = "";
        EXPECT_EQ(find_iface_ipv6(stream, c.interface, buffer), c.result) << c.interface;
        EXPECT_STREQ(buffer, c.address) << c.interface;
        fclose(stream);
    }
}

// An interface that is not there leaves no address of an earlier call.
TEST(get_iface_ipv4, clears_the_buffer_when_there_is_no_address) {
    char buffer[16] = "10.0.0.1";
    EXPECT_LT(get_iface_ipv4("nimbra-none0", buffer, sizeof(buffer)), 0);
    EXPECT_STREQ(buffer, "");
}

}  // namespace
