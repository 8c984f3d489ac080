#!/usr/bin/env bash
# The router after start in each variant as firewall/dnat.rules (reviewed
# against the rule tables) holds it, with firewall/<variant>.diff; a repair
# leaves the same; stop leaves the packet filter as before start. While
# start runs, no hook ever leads to an agent chain without rules.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

GOLDEN_DIR=$(dirname "$0")/firewall
# shellcheck disable=SC2016  # a sed script
readonly GOLDEN_DIR FILTER_ONLY='/^## addresses/,$d'

# golden VARIANT: router-state without processes, link-local addresses named by device.
golden() {
    # shellcheck disable=SC2016  # a sed script
    local dev address edits=(-e '/^## processes/,$d') expected=/dev/null
    for dev in /sys/class/net/*; do
        address=$(ip -6 -o addr show dev "${dev##*/}" scope link | awk '{ sub("/.*", "", $4); print $4 }')
        [[ -z $address ]] || edits+=(-e "s/$address/LINK_LOCAL_${dev##*/}/g")
    done
    router-state | sed "${edits[@]}" -e '/^local LINK_LOCAL_\|^fe80::\/64 \|^multicast ff00::\/8 /d' >"$WORK/golden"
    [[ ! -e $GOLDEN_DIR/$1.diff ]] || expected=$GOLDEN_DIR/$1.diff
    diff -u "$expected" <(diff "$GOLDEN_DIR/dnat.rules" "$WORK/golden")
}

filter_state() { snapshot | sed "$FILTER_ONLY"; }

# variant IFNAMES TPROXY ROUTER_OWNED: no agent state, the configuration, the router's own chains if asked.
variant() {
    local owned=(':NIMBRA_FILTERS - [0:0]' ':NIMBRA_INPUT - [0:0]' '-A FORWARD -j NIMBRA_FILTERS' '-A INPUT -j NIMBRA_INPUT'
        COMMIT '*nat' ':NIMBRA_NAT - [0:0]' ':NIMBRA_NAT_FILTERED - [0:0]' '-A PREROUTING -j NIMBRA_NAT'
        '-A PREROUTING -j NIMBRA_NAT_FILTERED')
    (($3)) || owned=(COMMIT '*nat')
    printf '%s\n' '*mangle' COMMIT '*filter' "${owned[@]}" COMMIT >"$WORK/tables"
    iptables-restore -w <"$WORK/tables" && ip6tables-restore -w <"$WORK/tables"
    while ip -6 rule del fwmark 3 lookup 101 2>/dev/null; do :; done
    ip -6 route flush table 101 2>/dev/null || true
    ip link del br1 2>/dev/null || true
    if [[ $1 == *br1* ]]; then
        ip link add br1 type bridge && ip link set br1 up && ip addr add 192.168.2.1/24 dev br1
    fi
    nimbra-ini set network.ifnames "${1/,/ }"
    nimbra-ini set iptables.use_tproxy_ipv6 "$2"
    nimbra-ini set iptables.chains_handled_by_router "$3"
    nimbra-ini set nimbra_ports.dnsmasq_port "$( (($2)) && echo 53 || echo 5300)"
    nimbra-ini set nimbra_ports.router_dnsmasq_port 5353
    filter_state >"$WORK/before"
}

# Samples both filters until $WORK/probe.stop: a hook to an agent chain without rules is half-built.
probe() {
    local samples=0
    until [[ -e $WORK/probe.stop ]]; do
        { iptables-save && ip6tables-save; } | awk '
            /^-A (FORWARD|INPUT|PREROUTING) -j NIMBRA_/ { hooked[$NF] = 1 }
            /^-A NIMBRA_/ { filled[$2] = 1 }
            END { for (chain in hooked) if (!filled[chain]) print chain }' >>"$WORK/probe.bad"
        samples=$((samples + 1))
    done
    echo "$samples" >"$WORK/probe.samples"
}
start_probe() { rm -f "$WORK/probe.stop" && : >"$WORK/probe.bad" && { probe & PROBER=$!; }; }
probed_whole() { touch "$WORK/probe.stop" && wait "$PROBER" && [[ ! -s $WORK/probe.bad && $(<"$WORK/probe.samples") -gt 10 ]]; }

rows=()
for entry in "dnat br0 0 0" "dnat_two br0,br1 0 0" "tproxy br0 1 0" "tproxy_two br0,br1 1 0" "router_chains br0 0 1"; do
    read -r name ifnames tproxy router_owned <<<"$entry"
    # The router's own chains are hooked and empty before start.
    ((router_owned)) && probe=(true true) || probe=(start_probe probed_whole)
    rows+=("$name: start | variant $ifnames $tproxy $router_owned && ${probe[0]} | nimbractl start | 0 | ^Router's IPv6 fe80:[0-9a-f:]+ @ br0$ | ${probe[1]} && golden $name")
    rows+=("$name: a repair changes nothing | - | nimbra-repair | 0 | ^Nimbra network state repaired\.$ | golden $name")
    # A hook of its own gone from one family is still removed from the other.
    ((router_owned)) && unhook=- || unhook='ip6tables -w -D FORWARD -j NIMBRA_FILTERS'
    rows+=("$name: stop | $unhook | nimbractl stop | 0 | ^Nimbra stopped\.$ | diff -u $WORK/before <(filter_state)")
done
run_rows "${rows[@]}"
finish
