#include "firewall/packet_filter.h"

#include "firewall/batch.h"
#include "firewall/chains.h"
#include "firewall/ipsets.h"
#include "firewall/ipv4_rules.h"
#include "firewall/ipv6_rules.h"

namespace {

int build_packet_filter(bool repair) {
    begin_firewall_batch();
    create_chains(FAMILY_IPV4);
    create_chains(FAMILY_IPV6);
    // Not part of the batch: its rules name the sets, which must exist.
    create_ip_sets();
    // Emptied before filling, so a repeated start never piles up rules.
    teardown_chains(FAMILY_IPV4);
    teardown_chains(FAMILY_IPV6);
    install_ipv4_rules();
    install_ipv6_rules(repair);
    return commit_firewall_batch();
}

}  // namespace

void install_packet_filter() { build_packet_filter(false); }

int repair_packet_filter() { return build_packet_filter(true); }

void remove_packet_filter() {
    begin_firewall_batch();
    teardown_chains(FAMILY_IPV4);
    teardown_chains(FAMILY_IPV6);
    commit_firewall_batch();
    // After the chains: the kernel keeps a set that a rule still names.
    destroy_ip_sets();
}
