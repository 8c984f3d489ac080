#include "lifecycle/interfaces.h"

#include <errno.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>

#include "firewall/ipv6_rules.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "util/files.h"
#include "util/netif.h"
#include "util/process.h"

const char kRedirectIpv4[] = "10.123.234.1";

namespace {

const char kSysClassNet[] = "/sys/class/net";

// Added with the prefix length that stop removes it with, so the kernel
// really lets it go.
const char kRedirectIpv6WithPrefix[] = "fd22:9464:dfb8::1/64";

// "xx:xx:xx:xx:xx:xx"
constexpr size_t kMacLength = 17;

// Records the interface's hardware address the first time only; an empty
// file, left by a write cut short, counts as none.
int record_mac(const char *sys_class_net, const char *ifname) {
    char mac_path[128];
    snprintf(mac_path, sizeof(mac_path), "%s/MAC", get_nimbra_ramdisk_path());
    if (file_has_data(mac_path)) return 0;

    char address_path[128];
    snprintf(address_path, sizeof(address_path), "%s/%s/address", sys_class_net, ifname);
    char mac[32] = "";
    read_file(address_path, mac, sizeof(mac));
    mac[strcspn(mac, "\n\r\t ")] = '\0';
    if (strlen(mac) != kMacLength) {
        fprintf(stderr, "Failed to get MAC for interface %s\n", ifname);
        return -1;
    }
    write_file_string(mac_path, mac);
    return 0;
}

// "224.0.0.0/3 dev " and an interface name of up to 45 characters.
constexpr size_t kRouteNeedleSize = 62;

// The alias label answers the address query like an interface of its own.
bool has_redirect_alias(const char *ifname) {
    char alias[IFNAMSIZ + 2];
    snprintf(alias, sizeof(alias), "%s:0", ifname);
    char address[INET_ADDRSTRLEN];
    return get_iface_ipv4(alias, address, sizeof(address)) == 0 && strcmp(address, kRedirectIpv4) == 0;
}

// Start leaves a failed command to the tool's own message.
int named_failure(bool repair, const char *address, const char *ifname) {
    if (repair) fprintf(stderr, "Can't add %s to %s\n", address, ifname);
    return -1;
}

}  // namespace

// Multicast needs a route on the LAN; an interface without an IPv4 address
// cannot carry it, so none is added there.
int ensure_multicast_route() {
    char **ifnames = get_nimbra_ifnames();
    if (!ifnames || !ifnames[0]) return 0;
    const char *ifname = ifnames[0];
    char address[INET_ADDRSTRLEN];
    const int lookup = get_iface_ipv4(ifname, address, sizeof(address));
    if (lookup == -EADDRNOTAVAIL) {
        fprintf(stderr, "No IPv4 address on %s: multicast route not added\n", ifname);
        return 0;
    }
    if (lookup < 0) {
        fprintf(stderr, "Socket for the IPv4 address query of %s failed: %s: multicast route not added\n",
                ifname, strerror(-lookup));
        return -1;
    }
    char needle[kRouteNeedleSize];
    snprintf(needle, sizeof(needle), "224.0.0.0/3 dev %s", ifname);
    if (command_output_contains("ip route show", needle)) return 0;
    return run_shellf("route add -net 224.0.0.0 netmask 224.0.0.0 %s", ifname) == 0 ? 0 : -1;
}

int init_interfaces() { return init_interfaces_in(kSysClassNet); }

int init_interfaces_in(const char *sys_class_net) {
    puts("Initializing interfaces ...");
    char **ifnames = get_nimbra_ifnames();
    if (!ifnames || !ifnames[0]) {
        fputs("Error: No network interface found\n", stderr);
        return -1;
    }
    const char *ifname = ifnames[0];
    char path[64];
    snprintf(path, sizeof(path), "%s/%s", sys_class_net, ifname);
    if (!*ifname || (is_directory(sys_class_net) && !file_exists(path))) {
        fprintf(stderr, "Error: Interface %s not found\n", ifname);
        return -1;
    }

    add_redirect_addresses(ifname, false);

    const char *root = nimbra_file(SLOT_ROOT);
    char hosts[128];
    snprintf(hosts, sizeof(hosts), "%s/hosts", root);
    if (file_exists(hosts)) run_shellf("cp -f %s/hosts %s/nimbra_hosts", root, get_nimbra_ramdisk_path());

    run_shellf("%s/resolv_safesearch.sh &", nimbra_file(SLOT_SCRIPTS));

    return record_mac(sys_class_net, ifname);
}

int add_redirect_addresses(const char *ifname, bool repair) {
    char command[128];
    int result = 0;
    if (!repair || !has_redirect_alias(ifname)) {
        if (run_shellf("ifconfig %s:0 %s netmask 255.255.255.0", ifname, kRedirectIpv4) != 0)
            result = named_failure(repair, kRedirectIpv4, ifname);
    }
    snprintf(command, sizeof(command), "ip -6 addr show dev %s", ifname);
    if (!command_output_contains(command, kRedirectIpv6) &&
        run_shellf("ip addr add %s dev %s", kRedirectIpv6WithPrefix, ifname) != 0)
        result = named_failure(repair, kRedirectIpv6WithPrefix, ifname);
    return result;
}
