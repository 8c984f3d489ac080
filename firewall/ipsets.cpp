#include "firewall/ipsets.h"

#include <stdio.h>

#include <iterator>

#include "firewall/batch.h"
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

// Echoes the commands and carries them out with one "ipset restore": the
// status of system().
int restore_sets(bool create, const char *const *commands) {
    char script[kSetCount * kCommandSize];
    int length = snprintf(script, sizeof(script), "ipset -exist restore <<'EOF'\n");
    for (size_t i = 0; i < kSetCount; ++i) {
        printf("--> %s\n", commands[i]);
        if (create)
            length += snprintf(script + length, sizeof(script) - length, "create %s %s\n",
                               kIpSets[i].name, kIpSets[i].options);
        else
            length += snprintf(script + length, sizeof(script) - length, "destroy %s\n", kIpSets[i].name);
    }
    snprintf(script + length, sizeof(script) - length, "EOF");
    return run_system(script);
}

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
    // A vendor library that batches firewall changes gets the sets in one
    // process too; -exist keeps an existing set and its members.
    if (!vendor_iptables_batch()) {
        run_command_list(commands);
        return;
    }
    if (restore_sets(create, commands) == 0) return;
    fputs("ipset restore failed; running its commands one at a time\n", stderr);
    for (const char *command : lines) run_system(command);
}

}  // namespace

void create_ip_sets() { run_set_commands(true); }

void destroy_ip_sets() { run_set_commands(false); }
