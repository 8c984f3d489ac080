#!/usr/bin/env bash
# The OpenWrt firewall include on the sandbox router, sourced by busybox ash
# as fw3 does: a stopped agent is never started, a firewall rebuild that
# keeps the agent's filter restarts nothing, one that flushed it gets the
# same rule set back.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

INCLUDE=$(realpath "$(dirname "$0")/../../packaging/openwrt/files/firewall.include")
readonly INCLUDE

# The include calls /usr/sbin/nimbractl and logs through logger: both are
# put in place in this private mount namespace only.
mkdir -p "$WORK/sbin" "$WORK/bin"
cp -a /usr/sbin/. "$WORK/sbin/"
ln -sf "$(realpath "$(command -v nimbractl)")" "$WORK/sbin/nimbractl"
mount --bind "$WORK/sbin" /usr/sbin
printf '#!/bin/sh\nshift 2\n{ [ $# -gt 0 ] && echo "$*"; cat; } >>%s\n' "$WORK/log" >"$WORK/bin/logger"
chmod +x "$WORK/bin/logger"
export PATH=$WORK/bin:$PATH

rules() {
    local tool table
    for tool in iptables ip6tables; do
        for table in filter nat mangle; do "$tool" -w -t "$table" -S; done
    done
}
flush_firewall() {
    local tool table
    for tool in iptables ip6tables; do
        for table in filter nat mangle; do "$tool" -w -t "$table" -F && "$tool" -w -t "$table" -X; done
    done
}
run_include() {
    : >"$WORK/log"
    /bin/sh -c '. "$1"' sh "$INCLUDE" </dev/null
}
running() { [[ $(nimbractl status -j) == *'"nimbra-running":"true"'* ]]; }

before=$(rules)
run_include
expect_eq "stopped: nothing logged" "" "$(<"$WORK/log")"
expect_false "stopped: agent not started" running
expect_eq "stopped: rules untouched" "$before" "$(rules)"

nimbra start
wait_until 15 all_services_run || true
started=$(rules)
runsvdir_pid=$(pgrep -x runsvdir)
run_include
expect_eq "filter in place: nothing logged" "" "$(<"$WORK/log")"
expect_eq "filter in place: agent not restarted" "$runsvdir_pid" "$(pgrep -x runsvdir)"

flush_firewall
run_include
expect_contains "flushed: restart logged" "$(<"$WORK/log")" "firewall rebuilt"
expect_true "flushed: agent running" running
expect_eq "flushed: rule set as after start" "$started" "$(rules)"

nimbra stop
run_include
expect_false "after stop: agent not started" running

finish
