// The if_inet6 parser: the input's first line is the interface asked for,
// the rest the file. A found address is a link-local address text.
#include <arpa/inet.h>
#include <errno.h>
#include <stdio.h>

#include "fuzz/fuzz_support.h"
#include "util/netif.h"

void fuzz_one(const std::string &input) {
    const size_t newline = input.find('\n');
    const std::vector<char> name = exact_copy(input.substr(0, newline));
    std::string file = newline == std::string::npos ? "" : input.substr(newline + 1);
    FILE *stream = fmemopen(&file[0], file.size(), "r");
    std::vector<char> text(kIpv6TextSize);
    const int result = find_iface_ipv6(stream, name.data(), text.data());
    fclose(stream);
    unsigned char a[16];
    fuzz_require(result == ENODEV || (result == 0 && inet_pton(AF_INET6, text.data(), a) == 1 && a[0] == 0xfe &&
                                      (a[1] & 0xc0) == 0x80),
                 "no address, or a link-local one");
}
