#!/usr/bin/env bash
# A start killed with SIGKILL at chosen steps and at random moments: any
# change it made is covered by a marker (a stale starting marker makes later
# starts refuse), and stop, the documented recovery, brings the router back
# to where it was; a start then works again.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

snapshot >"$WORK/fresh"

# The steps a start is killed at: each test is true once the start reached it.
marker_taken() { test -e "$STATUS_DIR/nimbra_starting"; }
tree_copied() { test -e /var/service/apid/run; }
alias_added() { ip -4 addr show dev br0 | grep -q 10.123.234.1; }
filter_hooked() { iptables -w -S FORWARD | grep -q NIMBRA_FILTERS; }
sets_made() { ipset list -n | grep -q managedlistv6; }
runsvdir_runs() { pgrep -x runsvdir >/dev/null; }
marked_running() { test -e "$STATUS_DIR/nimbra_running"; }
readonly STEPS=(marker_taken tree_copied alias_added filter_hooked sets_made runsvdir_runs marked_running)

# The processes of session $1 that the runit tree does not hold: what a
# killed start still had running.
in_flight() {
    ps -eo pid=,ppid=,sid=,comm= | awk -v sid="$1" '
        { parent[$1] = $2; session[$1] = $3; comm[$1] = $4 }
        END {
            for (pid in session) {
                if (session[pid] != sid) continue
                for (p = pid; p in parent && comm[p] != "runsvdir"; p = parent[p]) {}
                if (!(p in parent)) print pid, comm[pid]
            }
        }'
}

# killed_start LABEL WHEN...: a start in its own session, killed once WHEN
# (a step test, or `sleep N`) is done; then whatever it left running ends.
killed_start() {
    local label=$1 deadline=$((SECONDS + 15))
    shift
    setsid nimbractl start >"$WORK/start.out" 2>"$WORK/start.err" &
    local pid=$!
    until "$@" 2>/dev/null; do
        ((SECONDS < deadline)) || break
        sleep 0.01
    done
    kill -9 "$pid" 2>/dev/null || true
    { wait "$pid"; } 2>/dev/null || true
    deadline=$((SECONDS + 15))
    until [[ -z $(in_flight "$pid" | tee "$WORK/in_flight") ]]; do
        if ((SECONDS >= deadline)); then
            mapfile -t left <"$WORK/in_flight"
            fail "$label: commands of the killed start end" "${left[@]}"
            return
        fi
        sleep 0.2
    done
}

# After the kill: a changed router carries a marker, a marker holds off the
# next start, and stop restores the router.
check_recovery() {
    local label=$1 state=unchanged starting=0
    snapshot >"$WORK/killed"
    diff -q "$WORK/fresh" "$WORK/killed" >/dev/null || state=changed
    [[ -e $STATUS_DIR/nimbra_starting ]] && starting=1
    if [[ $state == changed ]]; then
        expect_true "$label: changes are marked" \
            test -e "$STATUS_DIR/nimbra_starting" -o -e "$STATUS_DIR/nimbra_running"
    fi
    if ((starting)); then
        nimbra start
        expect_eq "$label: stale marker, start exits 0" 0 "$STATUS"
        expect_eq "$label: stale marker, start refused" "Nimbra already running or starting" "$ERR"
        expect_not_contains "$label: stale marker, start does nothing" "$OUT" "Setting up"
    fi
    nimbra stop
    expect_true "$label: stop ends every agent process" wait_until 10 agent_processes_gone
    expect_same_state "$label: stop restores the router ($state, starting marker $starting)" "$WORK/fresh"
    expect_false "$label: no status directory" test -e "$STATUS_DIR"
}

for step in "${STEPS[@]}"; do
    killed_start "killed at $step" "$step"
    check_recovery "killed at $step"
done
for _ in 1 2 3 4 5; do
    ms=$((RANDOM % 3000))
    delay=$((ms / 1000)).$(printf '%03d' $((ms % 1000)))
    killed_start "killed after ${delay}s" sleep "$delay"
    check_recovery "killed after ${delay}s"
done

nimbra start
expect_contains "a start after the recoveries works" "$OUT" "Nimbra successfully started."
expect_true "services run" wait_until 15 all_services_run
nimbra stop
expect_true "services end" wait_until 10 agent_processes_gone
expect_same_state "stop after it restores the router" "$WORK/fresh"

finish
