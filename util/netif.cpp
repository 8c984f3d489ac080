#include "util/netif.h"

#include <arpa/inet.h>
#include <errno.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

int get_iface_ipv4(const char *interface, char *buffer, size_t size) {
    if (size > 0) buffer[0] = '\0';
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -errno;
    struct ifreq request;
    memset(&request, 0, sizeof(request));
    strncpy(request.ifr_name, interface, IFNAMSIZ - 1);
    request.ifr_addr.sa_family = AF_INET;
    int result = ioctl(fd, SIOCGIFADDR, &request);
    close(fd);
    if (result < 0) return -EADDRNOTAVAIL;
    const struct sockaddr_in *address = reinterpret_cast<sockaddr_in *>(&request.ifr_addr);
    snprintf(buffer, size, "%s", inet_ntoa(address->sin_addr));
    return 0;
}

namespace {

// The kernel's list of IPv6 addresses.
const char kIfInet6[] = "/proc/net/if_inet6";

}  // namespace

int find_iface_ipv6(FILE *if_inet6, const char *interface, char *buffer) {
    char line[128];
    while (fgets(line, sizeof(line), if_inet6)) {
        unsigned char a[16];
        char name[16];
        const int fields = sscanf(
            line,
            "%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx"
            "%02hhx%02hhx %*x %*x %*x %*x %15s",
            &a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &a[7], &a[8], &a[9], &a[10], &a[11],
            &a[12], &a[13], &a[14], &a[15], name);
        if (fields != 17 || strcmp(name, interface) != 0) continue;
        // fe80::/10; the line's scope field is not trusted.
        if (a[0] != 0xfe || (a[1] & 0xc0) != 0x80) continue;
        char text[INET6_ADDRSTRLEN];
        if (!inet_ntop(AF_INET6, a, text, sizeof(text))) {
            fprintf(stderr, "%s: Invalid IPv6 address\n", "get_iface_ipv6");
            continue;
        }
        snprintf(buffer, kIpv6TextSize, "%s", text);
        return 0;
    }
    return ENODEV;
}

int get_iface_ipv6(const char *interface, char *buffer) {
    FILE *file = fopen(kIfInet6, "r");
    if (!file) {
        fprintf(stderr, "%s: /proc/net/if_inet6 not found\n", "get_iface_ipv6");
        return ENOENT;
    }
    const int result = find_iface_ipv6(file, interface, buffer);
    fclose(file);
    return result;
}
