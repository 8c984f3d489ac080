#include "util/netif.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

int get_iface_ipv4(const char *interface, char *buffer, size_t size) {
    if (size > 0) buffer[0] = '\0';
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct ifreq request;
    memset(&request, 0, sizeof(request));
    strncpy(request.ifr_name, interface, IFNAMSIZ - 1);
    request.ifr_addr.sa_family = AF_INET;
    int result = ioctl(fd, SIOCGIFADDR, &request);
    close(fd);
    if (result < 0) return -1;
    const struct sockaddr_in *address = reinterpret_cast<sockaddr_in *>(&request.ifr_addr);
    snprintf(buffer, size, "%s", inet_ntoa(address->sin_addr));
    return 0;
}
