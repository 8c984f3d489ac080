#!/usr/bin/env bash
# start on the sandbox router: the packet filter, addresses and routes it
# leaves, the runit tree and applet links, certificates, and a second start
# that changes nothing.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

nimbra start
expect_eq "start exits 0" 0 "$STATUS"
expect_contains "start reports success" "$OUT" "Nimbra successfully started."
expect_true "running marker" test -e "$STATUS_DIR/nimbra_running"
expect_false "no starting marker" test -e "$STATUS_DIR/nimbra_starting"

# Hooks from the built-in chains and one telling rule of each agent chain:
# "listing command|line it must contain".
br0_ll=$(ip -6 addr show dev br0 scope link | awk '/inet6/ { sub(/\/.*/, "", $2); print $2; exit }')
listings=(
    "iptables -S FORWARD|-A FORWARD -j NIMBRA_FILTERS"
    "iptables -S INPUT|-A INPUT -j NIMBRA_INPUT"
    "iptables -t nat -S PREROUTING|-A PREROUTING -j NIMBRA_NAT"
    "iptables -t nat -S PREROUTING|-A PREROUTING -j NIMBRA_NAT_FILTERED"
    "iptables -S NIMBRA_FILTERS|-A NIMBRA_FILTERS -j FILTERED"
    "iptables -S FILTERED|-A FILTERED -p tcp -m set --match-set filtered dst,src,src -j REJECT --reject-with tcp-reset"
    "iptables -S UNMANAGED|-A UNMANAGED -m set --match-set unmanaged dst,src,src -j ACCEPT"
    "iptables -S NIMBRA_INPUT|-A NIMBRA_INPUT -p udp -m udp --dport 5300 -j ACCEPT"
    "iptables -t nat -S NIMBRA_NAT|-A NIMBRA_NAT -d 10.123.234.1/32 -i br0 -p tcp -m tcp --dport 80 -j DNAT --to-destination 10.123.234.1:4601"
    "iptables -t nat -S NIMBRA_NAT|-A NIMBRA_NAT ! -s 192.168.1.1/32 -i br0 -p udp -m udp --dport 53 -j DNAT --to-destination 192.168.1.1:5300"
    "iptables -t nat -S NIMBRA_NAT_FILTERED|--match-set filtered dst,src,src -m tcp --dport 443 -j DNAT --to-destination 10.123.234.1:4602"
    "ip6tables -S FORWARD|-A FORWARD -j NIMBRA_FILTERS"
    "ip6tables -S INPUT|-A INPUT -j NIMBRA_INPUT"
    "ip6tables -S NIMBRA_INPUT|-A NIMBRA_INPUT -d fd22:9464:dfb8::/64 -j ACCEPT"
    "ip6tables -S FILTERED|-A FILTERED -p udp -m set --match-set filteredv6 dst,src,src -j DROP"
    "ip6tables -t nat -S PREROUTING|-A PREROUTING -j NIMBRA_NAT_FILTERED"
    "ip6tables -t nat -S NIMBRA_NAT|-j DNAT --to-destination [$br0_ll]:5300"
    "ip6tables -t nat -S NIMBRA_NAT|-A NIMBRA_NAT -d fd22:9464:dfb8::/116 -i br0 -p tcp -m tcp --dport 80 -j DNAT --to-destination [fd22:9464:dfb8::1]:4601"
)
for entry in "${listings[@]}"; do
    read -r -a listing <<<"${entry%%|*}"
    expect_contains "${entry%%|*}" "$("${listing[@]}")" "${entry#*|}"
done

sets=$(ipset list -n)
for set in "${AGENT_SETS[@]}"; do
    expect_contains "set $set" "$sets" "$set"
done

expect_contains "redirect alias" "$(ip -4 addr show dev br0)" "inet 10.123.234.1/24 brd 10.123.234.255 scope global br0:0"
expect_contains "redirect IPv6 address" "$(ip -6 addr show dev br0)" "inet6 fd22:9464:dfb8::1/64 scope global"
expect_contains "multicast route" "$(ip route show)" "224.0.0.0/3 dev br0"
expect_eq "MAC recorded" "$(cat /sys/class/net/br0/address)" "$(cat "$RAM_DIR/MAC")"
expect_true "hosts file copied" cmp -s "$ROOT_DIR/hosts" "$RAM_DIR/nimbra_hosts"

for applet in runsvdir runsv sv svlogd; do
    expect_eq "applet link $applet" "$ROOT_DIR/busybox" "$(readlink "$ROOT_DIR/$applet")"
done

# The default configuration's max_log_size 330000: 330000 / 11 / 10.
for service in "${AGENT_SERVICES[@]}"; do
    expect_true "$service service copied" test -x "/var/service/$service/run"
    expect_eq "$service log run script" \
        "$(printf '#!/bin/sh\nexec %s/svlogd -tt %s/%s' "$ROOT_DIR" "$LOG_DIR" "$service")" \
        "$(cat "/var/service/$service/log/run")"
    expect_true "$service log run script executable" test -x "/var/service/$service/log/run"
    expect_eq "$service log config" "$(printf 'n10\ns3000')" "$(cat "$LOG_DIR/$service/config")"
done

for cert in apid webd; do
    expect_true "$cert certificate made" openssl x509 -noout -in "$DATA_DIR/$cert.pem"
done

# A second start stops at the markers and leaves everything as it was.
snapshot >"$WORK/started"
nimbra start
expect_eq "second start exits 0" 0 "$STATUS"
expect_contains "second start refused" "$ERR" "Nimbra already running or starting"
expect_not_contains "second start does nothing" "$OUT" "Setting up iptables"
expect_same_state "second start changes nothing" "$WORK/started"

finish
