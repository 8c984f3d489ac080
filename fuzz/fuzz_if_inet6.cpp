// The if_inet6 parser: the input's first line is the interface name asked
// for, the rest is the file's text. A found address must be a NUL-terminated
// link-local (fe80::/10) address text within the caller's buffer, and the
// interface must be named by a line of the file.
#include <arpa/inet.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "util/netif.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    silence_program_stderr();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t newline = input.find('\n');
    const std::vector<char> name = exact_copy(input.substr(0, newline));
    std::string file = newline == std::string::npos ? "" : input.substr(newline + 1);

    FILE *stream = fmemopen(&file[0], file.size(), "r");
    fuzz_require(stream != nullptr, "fmemopen");
    std::vector<char> buffer(kIpv6TextSize, '#');
    const int result = find_iface_ipv6(stream, name.data(), buffer.data());
    fclose(stream);

    fuzz_require(result == 0 || result == ENODEV, "find_iface_ipv6 gives 0 or ENODEV");
    if (result != 0) return 0;
    fuzz_require(memchr(buffer.data(), '\0', buffer.size()) != nullptr, "the address text is NUL-terminated");
    unsigned char address[16];
    fuzz_require(inet_pton(AF_INET6, buffer.data(), address) == 1, "the address text parses back");
    fuzz_require(address[0] == 0xfe && (address[1] & 0xc0) == 0x80, "the address is link-local");
    fuzz_require(name.size() > 1 && file.find(name.data()) != std::string::npos,
                 "the interface is named in the file");
    return 0;
}
