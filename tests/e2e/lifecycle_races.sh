#!/usr/bin/env bash
# start against other starts and a failing interface step: the starting
# marker lets exactly one of twenty simultaneous starts proceed, and a
# failed interface step removes only that marker.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

# A tun device exists under /sys/class/net but has no 17-character hardware
# address, so the interface step fails where it records the MAC address
# (which must not have been recorded by an earlier start).
ip tuntap add dev tun0 mode tun
nimbra-ini set network.ifnames tun0
nimbra start
expect_contains "interface step reports the address" "$ERR" "Failed to get MAC for interface tun0"
expect_contains "start reports the interface step" "$ERR" "Failed to start Nimbra: error initializing interfaces"
expect_false "starting marker removed" test -e "$STATUS_DIR/nimbra_starting"
expect_false "never running" test -e "$STATUS_DIR/nimbra_running"
expect_true "service tree left in place" test -x /var/service/rclient/log/run
expect_true "applet links left in place" test -L "$ROOT_DIR/svlogd"
expect_not_contains "packet filter never set up" "$(iptables -S FORWARD)" "NIMBRA_FILTERS"
expect_false "runsvdir never started" pgrep -x runsvdir

nimbra stop
nimbra-ini set network.ifnames br0
for i in {1..20}; do
    nimbractl start >"$WORK/start.$i.out" 2>"$WORK/start.$i.err" &
done
wait
started=$(grep -l "Nimbra successfully started." "$WORK"/start.*.out | wc -l)
refused=$(grep -l "Nimbra already running or starting" "$WORK"/start.*.err | wc -l)
expect_eq "one of twenty starts proceeds" 1 "$started"
expect_eq "nineteen starts refused" 19 "$refused"
expect_true "running" test -e "$STATUS_DIR/nimbra_running"
expect_false "no starting marker left" test -e "$STATUS_DIR/nimbra_starting"
expect_true "services run" wait_until 15 all_services_run
expect_eq "one runsvdir" 1 "$(pgrep -cx runsvdir)"
expect_eq "one FORWARD hook" 1 "$(iptables -S FORWARD | grep -c 'NIMBRA_FILTERS')"

finish
