#include "firewall/packet_filter.h"

#include "firewall/chains.h"
#include "firewall/ipsets.h"
#include "firewall/ipv4_rules.h"
#include "firewall/ipv6_rules.h"

void install_packet_filter() {
    create_chains(0);
    create_chains(1);
    create_ip_sets();
    // Emptied before filling, so a repeated start never piles up rules.
    teardown_chains(0);
    teardown_chains(1);
    install_ipv4_rules();
    install_ipv6_rules();
}

void remove_packet_filter() {
    // Chains first: the kernel keeps a set that a rule still names.
    teardown_chains(0);
    teardown_chains(1);
    destroy_ip_sets();
}
