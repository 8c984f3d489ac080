#!/usr/bin/env bash
# Commands against each other and a failing interface step: the starting
# marker lets exactly one of twenty simultaneous starts proceed, a failed
# interface step removes only that marker, of ten resets at once one works,
# and status polled during start, stop and reset always answers in full.
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


# status polled without pause while another command changes the agent's
# state: every report exits 0 and is whole, in text and in JSON.
readonly DASHES=-------------------------------------------------
readonly STATUS_TEXT="^$DASHES
Nimbra Running: (true
    Nimbra running on interface br0|false)
Nimbra Provisioned: (true|false)
$DASHES
(Nimbra Processes:
(.*
)?$DASHES
)?Nimbra Cloud Connectivity:
rclient:   (dis)?connected
           last ping: [^
]*
configd:   last auth: [^
]*
           last settings \(down\): [^
]*
           last logs \(up\): [^
]*
$DASHES\$"
readonly STATUS_JSON='keys_unsorted == ["nimbra-running","nimbra-provisioned","rclient"]
    and (.["nimbra-running"], .["nimbra-provisioned"] | IN("true", "false"))
    and (.rclient | IN("connected", "disconnected"))'

# Until $WORK/poll.stop appears: status, then status -j. The first few bad
# reports go to $WORK/poll.bad; the number of rounds to $WORK/poll.done.
poll_status() {
    local rounds=0 rc out
    while [[ ! -e $WORK/poll.stop ]]; do
        rounds=$((rounds + 1))
        rc=0 && nimbractl status >"$WORK/poll.out" 2>&1 || rc=$?
        out=$(<"$WORK/poll.out")
        if ((rc != 0)) || [[ ! $out =~ $STATUS_TEXT ]]; then
            printf 'status exited %d:\n%s\n' "$rc" "$out" >>"$WORK/poll.bad"
        fi
        rc=0 && nimbractl status -j >"$WORK/poll.out" 2>&1 || rc=$?
        out=$(<"$WORK/poll.out")
        if ((rc != 0)) || ! jq -e "$STATUS_JSON" <<<"$out" >/dev/null 2>&1; then
            printf 'status -j exited %d: %s\n' "$rc" "$out" >>"$WORK/poll.bad"
        fi
        (($(wc -l <"$WORK/poll.bad") < 40)) || break
    done
    echo "$rounds" >"$WORK/poll.done"
}

start_polling() {
    rm -f "$WORK/poll.stop" "$WORK/poll.done"
    : >"$WORK/poll.bad"
    poll_status &
    poller=$!
}

# stop_polling WHAT: ends the poller and checks what it saw.
stop_polling() {
    touch "$WORK/poll.stop"
    if ! wait_until 20 test -e "$WORK/poll.done"; then
        kill "$poller" 2>/dev/null || true
        fail "$1: status never hangs" "a status run did not end within 20 s"
        return
    fi
    wait "$poller" || true
    mapfile -t bad <"$WORK/poll.bad"
    if ((${#bad[@]})); then fail "$1: status always whole" "${bad[@]}"; else pass "$1: status always whole"; fi
    expect_true "$1: status polled ($(<"$WORK/poll.done") rounds)" test "$(<"$WORK/poll.done")" -ge 3
    expect_eq "$1: no lock file left" "" "$(find /var/nimbra -name '*.lock')"
}

start_polling
nimbra stop
expect_true "services end" wait_until 10 agent_processes_gone
stop_polling "during stop"

start_polling
nimbra start
expect_contains "start under polling" "$OUT" "Nimbra successfully started."
expect_true "services run under polling" wait_until 15 all_services_run
stop_polling "during start"

# Ten resets of a running agent at once: one stops, cleans and restarts the
# agent, the other nine say so and do nothing.
start_polling
touch "$DATA_DIR/learned"
resets=()
for i in {1..10}; do
    nimbractl reset >"$WORK/reset.$i.out" 2>"$WORK/reset.$i.err" &
    resets+=($!)
done
reset_status=0
for pid in "${resets[@]}"; do wait "$pid" || reset_status=$?; done
expect_eq "ten resets exit 0" 0 "$reset_status"
expect_eq "one reset stops the agent" 1 "$(grep -l '^Nimbra stopped\.$' "$WORK"/reset.*.out | wc -l)"
expect_eq "one reset starts it again" 1 "$(grep -l '^Nimbra successfully started\.$' "$WORK"/reset.*.out | wc -l)"
refused=0
for i in {1..10}; do
    [[ $(<"$WORK/reset.$i.out") == $'Resetting Nimbra ...\nnimbra agent is resetting, no op' ]] &&
        [[ ! -s $WORK/reset.$i.err ]] && refused=$((refused + 1))
done
expect_eq "nine resets print only that another one runs" 9 "$refused"
expect_false "data removed" test -e "$DATA_DIR/learned"
expect_false "no resetting marker left" test -e "$RAM_DIR/nimbra_resetting"
expect_true "running after the resets" test -e "$STATUS_DIR/nimbra_running"
expect_true "services run after the resets" wait_until 15 all_services_run
expect_eq "one runsvdir after the resets" 1 "$(pgrep -cx runsvdir)"
expect_eq "one FORWARD hook after the resets" 1 "$(iptables -S FORWARD | grep -c 'NIMBRA_FILTERS')"
stop_polling "during reset"

finish
