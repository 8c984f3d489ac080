#!/usr/bin/env bash
# The packet filter on a real kernel: for each variant (DNAT or TPROXY, one
# or two LAN interfaces, chains owned by the router) the firewall part of
# start must leave exactly the listings in firewall/<variant>.rules, a second
# start must leave the same, and the firewall part of stop must leave every
# agent chain empty and unhooked and no agent set. The number of vendor
# calls, listings and shell commands of a start is checked too.
# NIMBRA_UPDATE_GOLDEN=1 rewrites the .rules files from what the kernel shows.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

GOLDEN_DIR=$(dirname "$0")/firewall
readonly GOLDEN_DIR
readonly HARNESS=${NIMBRA_FIREWALL_HARNESS:?firewall_harness not built}
readonly LISTINGS=("iptables -S" "iptables -t nat -S" "ip6tables -S" "ip6tables -t nat -S"
    "ip6tables -t mangle -S")

# The listings, with each bridge's link-local address (random per run)
# replaced by a fixed name.
listings() {
    local listing sed_args=()
    local dev address
    for dev in br0 br1; do
        [[ -e /sys/class/net/$dev ]] || continue
        address=$(ip -6 -o addr show dev "$dev" scope link | awk '{sub("/.*", "", $4); print $4}')
        sed_args+=(-e "s/$address/LINK_LOCAL_$dev/g")
    done
    for listing in "${LISTINGS[@]}"; do
        echo "## $listing"
        $listing | sed "${sed_args[@]}" -e ''
    done
}

# harness start|stop: runs it, leaving "vendor listings commands" in COUNTS.
harness() {
    "$HARNESS" "$1" >"$WORK/harness.out" 2>"$WORK/harness.err"
    COUNTS="$(grep -Ec '^--> ip6?tables ' "$WORK/harness.out" || true) $(awk '/^listings:/ {print $2}' "$WORK/harness.err") $(awk '/^commands:/ {print $2}' "$WORK/harness.err")"
}

# Back to a router with no agent state, so each variant starts afresh.
clean_router() {
    local tool table
    for tool in iptables ip6tables; do
        for table in filter nat mangle; do
            "$tool" -w -t "$table" -F
            "$tool" -w -t "$table" -X
        done
    done
    ipset destroy 2>/dev/null || true
    while ip -6 rule del fwmark 3 lookup 101 2>/dev/null; do :; done
    ip -6 route flush table 101 2>/dev/null || true
    ip link del br1 2>/dev/null || true
}

add_br1() {
    ip link add br1 type bridge
    sysctl -qw net.ipv6.conf.br1.accept_dad=0
    ip link set br1 up
    ip addr add 192.168.2.1/24 dev br1
}

# The router's own firewall owns the top-level chains and their hooks.
make_router_chains() {
    local tool
    for tool in iptables ip6tables; do
        "$tool" -w -N NIMBRA_FILTERS
        "$tool" -w -N NIMBRA_INPUT
        "$tool" -w -t nat -N NIMBRA_NAT
        "$tool" -w -t nat -N NIMBRA_NAT_FILTERED
        "$tool" -w -I FORWARD -j NIMBRA_FILTERS
        "$tool" -w -I INPUT -j NIMBRA_INPUT
        "$tool" -w -t nat -A PREROUTING -j NIMBRA_NAT
        "$tool" -w -t nat -A PREROUTING -j NIMBRA_NAT_FILTERED
    done
}

router_hooks() {
    listings | grep -E -- '^-A (FORWARD|INPUT|PREROUTING) -j NIMBRA_' || true
}

# variant NAME IFNAMES TPROXY ROUTER_CHAINS EXPECTED_COUNTS
variant() {
    local name=$1 ifnames=$2 tproxy=$3 router_owned=$4 counts=$5
    local golden=$GOLDEN_DIR/$name.rules
    clean_router
    [[ $ifnames == *br1* ]] && add_br1
    nimbra-ini set network.ifnames "$ifnames"
    nimbra-ini set iptables.use_tproxy_ipv6 "$tproxy"
    nimbra-ini set iptables.chains_handled_by_router "$router_owned"
    nimbra-ini set nimbra_ports.dnsmasq_port "$( ((tproxy)) && echo 53 || echo 5300)"
    nimbra-ini set nimbra_ports.router_dnsmasq_port 5353
    ((router_owned)) && make_router_chains
    local hooks_before
    hooks_before=$(router_hooks)

    harness start
    expect_eq "$name: vendor calls, listings, shell commands of a start" "$counts" "$COUNTS"
    listings >"$WORK/first"
    if [[ ${NIMBRA_UPDATE_GOLDEN:-} == 1 ]]; then cp "$WORK/first" "$golden"; fi
    expect_eq "$name: listings after start" "$(<"$golden")" "$(<"$WORK/first")"
    harness start
    expect_eq "$name: a second start leaves the same listings" "$(<"$WORK/first")" "$(listings)"

    harness stop
    expect_agent_chains_empty "$name"
    expect_eq "$name: no agent set after stop" "" "$(ipset list -n)"
    if ((router_owned)); then
        expect_eq "$name: the router's hooks are neither added nor removed" "$hooks_before" "$(router_hooks)"
    else
        expect_eq "$name: no hook after stop" "" "$(router_hooks)"
    fi
}

variant dnat br0 0 0 "73 19 13"
variant dnat_two "br0 br1" 0 0 "87 21 13"
variant tproxy br0 1 0 "75 18 15"
variant tproxy_two "br0 br1" 1 0 "92 19 17"
variant router_chains "br0" 0 1 "57 15 13"
finish
