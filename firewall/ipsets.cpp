#include "firewall/ipsets.h"

#include <stdio.h>

#include <iterator>

#include "util/process.h"

namespace {

struct ip_set {
    const char *name;
    const char *options;  // type and creation options
};

const ip_set kIpSets[] = {
    {"whitelist-net", "hash:net"},
    {"whitelist-ip", "hash:ip"},
    {"filtered", "hash:ip,port,ip timeout 60"},
    {"torlist", "hash:ip hashsize 2048 maxelem 65536"},
    {"unmanaged", "hash:ip,port,ip timeout 60"},
    {"dnsallow", "hash:ip timeout 15"},
    {"managedlist", "hash:ip timeout 60"},
    {"whitelist-ip6", "hash:ip family inet6"},
    {"filteredv6", "hash:ip,port,ip family inet6 timeout 60"},
    {"torlistv6", "hash:ip family inet6 hashsize 2048 maxelem 65536"},
    {"unmanagedv6", "hash:ip,port,ip family inet6 timeout 60"},
    {"dnsallowv6", "hash:ip family inet6 timeout 15"},
    {"managedlistv6", "hash:ip family inet6 timeout 60"},
};

constexpr size_t kSetCount = std::size(kIpSets);
constexpr size_t kCommandSize = 128;

// Both lists are built from kIpSets so that stop destroys exactly what start
// created, in the same order.
void run_set_commands(bool create) {
    char lines[kSetCount][kCommandSize];
    const char *commands[kSetCount + 1];
    for (size_t i = 0; i < kSetCount; ++i) {
        if (create)
            snprintf(lines[i], sizeof(lines[i]), "ipset create %s %s", kIpSets[i].name,
                     kIpSets[i].options);
        else
            snprintf(lines[i], sizeof(lines[i]), "ipset -X %s", kIpSets[i].name);
        commands[i] = lines[i];
    }
    commands[kSetCount] = nullptr;
    run_command_list(commands);
}

}  // namespace

void create_ip_sets() { run_set_commands(true); }

void destroy_ip_sets() { run_set_commands(false); }
