#!/usr/bin/env bash
# nimbra-repair as OpenWrt runs it, from the firewall include and the hotplug
# script: the router comes back as start left it, no daemon restarted, a
# stopped agent never started. Also: a start never shows a hook to an empty chain.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

FILES=$(realpath "$(dirname "$0")/../../packaging/openwrt/nimbractl/files")
BIN=$(dirname "$(realpath "$NIMBRA_BIN")")
readonly FILES BIN

# The scripts' /usr/sbin/nimbra-repair and logger, in this mount namespace only.
mkdir -p "$WORK/sbin" "$WORK/bin"
cp -a /usr/sbin/. "$WORK/sbin/"
ln -sf "$BIN/nimbra-repair" "$WORK/sbin/nimbra-repair"
mount --bind "$WORK/sbin" /usr/sbin
printf '#!/bin/sh\ncat >>%s\n' "$WORK/log" >"$WORK/bin/logger"
chmod +x "$WORK/bin/logger"
PATH=$WORK/bin:$PATH

drop_addresses() { ip addr del 10.123.234.1/24 dev br0 && ip addr del fd22:9464:dfb8::1/64 dev br0; }
# Quiet, and the router and its daemons as the row began.
repaired() {
    [[ ! -s $WORK/log ]] || { cat "$WORK/log" && return 1; }
    same_state "$WORK/started" && daemons | diff "$WORK/daemons" -
}
# Without what a stub daemon forks between its sleeps (named like it).
daemons() {
    ps -eo pid=,ppid=,comm= | awk '{ comm[$1] = $3; parent[$1] = $2 }
        END { for (pid in comm) if (comm[pid] ~ /^(runsvdir|runsv|svlogd|stubd|dnsmasq)$/ && comm[parent[pid]] != "stubd")
            print pid, comm[pid] }' | sort
}
# shellcheck disable=SC2016  # "$1" is the sourcing shell's
include() { /bin/sh -c '. "$1"' sh "$FILES/firewall.include" </dev/null; }
# shellcheck disable=SC2016  # "$1" is the sourcing shell's
hotplug() { env "$@" /bin/sh -c '. "$1"' sh "$FILES/nimbractl.hotplug" </dev/null; }

# Samples both filters until told to stop: a hook to an agent chain without rules is half-built.
probe() {
    : >"$WORK/probe.bad"
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
probed_start() {
    rm -f "$WORK/probe.stop"
    probe &
    local prober=$!
    timeout 60 nimbractl start >"$WORK/started.out" 2>&1
    touch "$WORK/probe.stop" && wait "$prober"
    [[ ! -s $WORK/probe.bad && $(<"$WORK/probe.samples") -gt 10 ]]
}

run_rows \
    "repair, stopped | settle $WORK/fresh | nimbra-repair | 0 | ^Nimbra is not running, nothing to repair$ | same_state $WORK/fresh" \
    "start, probed every few ms | - | - | - | - | probed_start && eventually all_services_run && settle $WORK/started" \
    "firewall include after a flush | flush_firewall && drop_addresses && daemons >$WORK/daemons | - | - | - | include && repaired" \
    "hotplug: the bridge's addresses changed while up | drop_addresses && daemons >$WORK/daemons | - | - | - | hotplug ACTION=ifupdate IFUPDATE_ADDRESSES=1 INTERFACE=lan DEVICE=br0 && repaired" \
    "hotplug: down, or an update without new addresses | drop_addresses && daemons >$WORK/daemons | - | - | - | hotplug ACTION=ifdown INTERFACE=lan DEVICE=br0 && hotplug ACTION=ifupdate IFUPDATE_DATA=1 INTERFACE=lan DEVICE=br0 && [[ \$(ip addr show dev br0) != *10.123.234.1* ]] && nimbra-repair >/dev/null && repaired" \
    "stop | - | nimbractl stop | 0 | ^Nimbra stopped\.$ | eventually agent_processes_gone && same_state $WORK/fresh" \
    "stopped: include and hotplug start nothing | - | - | - | - | include && hotplug ACTION=ifup INTERFACE=lan DEVICE=br0 && same_state $WORK/fresh"
finish
