#!/usr/bin/env bash
# stop and restart on the sandbox router: stop takes back everything start
# did (only the agent's chains stay, empty), also on a router where the
# agent never ran; restart ends with the agent running once.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

snapshot >"$WORK/fresh"

nimbra stop
expect_eq "stop before any start exits 0" 0 "$STATUS"
expect_contains "stop before any start ends" "$OUT" "Nimbra stopped."
expect_eq "stop before any start destroys thirteen sets" 13 "$(grep -c '^--> ipset -X ' <<<"$OUT")"
expect_same_state "stop before any start changes nothing" "$WORK/fresh"

nimbra start
expect_contains "start reports success" "$OUT" "Nimbra successfully started."
wait_until 15 all_services_run || true
nimbra stop
expect_contains "stop ends" "$OUT" "Nimbra stopped."
expect_true "stop ends every agent process" wait_until 10 agent_processes_gone
expect_same_state "stop leaves the router as before start" "$WORK/fresh"
expect_agent_chains_empty "after stop"
expect_false "no status directory" test -e "$STATUS_DIR"
expect_false "no /var/service" test -e /var/service
expect_false "no log directory" test -e "$LOG_DIR"
# The same, spelled out: what a reader of a failure wants to see first.
expect_not_contains "no FORWARD hook" "$(iptables -S FORWARD)" "NIMBRA"
expect_not_contains "no agent set" "$(ipset list -n)" "filtered"
expect_not_contains "no redirect alias" "$(ip addr show dev br0)" "10.123.234.1"
expect_not_contains "no redirect IPv6 address" "$(ip addr show dev br0)" "fd22:9464:dfb8::1"
expect_not_contains "no multicast route" "$(ip route show)" "224.0.0.0/3"

# restart from running: stop, then start once; nothing doubled.
nimbra start
nimbra restart
expect_eq "restart exits 0" 0 "$STATUS"
expect_contains "restart stops" "$OUT" "Nimbra stopped."
expect_contains "restart starts" "$OUT" "Nimbra successfully started."
expect_true "running after restart" test -e "$STATUS_DIR/nimbra_running"
expect_true "services run after restart" wait_until 15 all_services_run
expect_eq "one runsvdir after restart" 1 "$(pgrep -cx runsvdir)"
expect_eq "one FORWARD hook after restart" 1 "$(iptables -S FORWARD | grep -c 'NIMBRA_FILTERS')"
expect_eq "one nat hook after restart" 1 "$(iptables -t nat -S PREROUTING | grep -c 'NIMBRA_NAT$')"

finish
