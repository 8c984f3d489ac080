#!/usr/bin/env bash
# Commands against each other: starts, resets, repairs and stops at once, a
# start stopped or killed (SIGKILL, SIGTERM, SIGHUP, SIGPIPE) at each step,
# a firewall flushed mid-start, while status is polled and the configuration
# replaced. One start or reset goes on, status answers whole, a killed start
# that changed anything leaves a marker, and each stop restores the router.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

readonly ROUNDS=${NIMBRA_E2E_ROUNDS:-3} DASHES=------------------------------------------------- SEED=${NIMBRA_E2E_SEED:-$(date +%s)}
RANDOM=$SEED && echo "seed $SEED (NIMBRA_E2E_SEED)"
readonly STATUS_TEXT="^$DASHES
Nimbra Running: (true|false).*
Nimbra Cloud Connectivity:
rclient: .*
           last logs \(up\): [^
]*
$DASHES\$"
readonly STATUS_JSON='keys_unsorted == ["nimbra-running","nimbra-provisioned","rclient"] and
    (.["nimbra-running"], .["nimbra-provisioned"] | IN("true", "false")) and (.rclient | IN("connected", "disconnected"))'

# Until $WORK/poll.stop: the configuration replaced whole, then status and status -j checked.
poll() {
    local rounds=0
    while [[ ! -e $WORK/poll.stop ]]; do
        rounds=$((rounds + 1))
        cp "$WORK/variant$((rounds % 2)).ini" "$NIMBRA_CONFIG.new" && mv -f "$NIMBRA_CONFIG.new" "$NIMBRA_CONFIG"
        { nimbractl status >"$WORK/poll.out" 2>&1 && [[ $(<"$WORK/poll.out") =~ $STATUS_TEXT ]]; } || cat "$WORK/poll.out" >>"$WORK/poll.bad"
        { nimbractl status -j >"$WORK/poll.out" 2>&1 && jq -e "$STATUS_JSON" "$WORK/poll.out" >/dev/null 2>&1; } ||
            cat "$WORK/poll.out" >>"$WORK/poll.bad"
    done
    echo "$rounds" >"$WORK/poll.done"
}
start_polling() {
    local v
    for v in 0 1; do { cat "$NIMBRA_CONFIG" && printf ";%$((v * 3000 + 1000))s\n" ""; } >"$WORK/variant$v.ini"; done
    : >"$WORK/poll.bad"
    poll &
}
polled_whole() {
    touch "$WORK/poll.stop" && eventually test -e "$WORK/poll.done" || return
    echo "$(<"$WORK/poll.done") rounds of status" && ! grep . "$WORK/poll.bad" &&
        [[ -z $(find /var/nimbra -name '*.lock' ! -path "$RAM_DIR/nimbra_lifecycle.lock") ]]
}

# at_once N WORD: N commands together, outputs in $WORK/WORD.*.
at_once() {
    local i pids=()
    for ((i = 0; i < $1; i++)); do nimbractl "$2" >"$WORK/$2.$i" 2>&1 & pids+=($!); done
    wait "${pids[@]}"
}
lines() { cat "$WORK/$1".* | grep -c "$2"; }

# The steps of a start: each true once the start reached it.
marker_taken() { test -e "$STATUS_DIR/nimbra_starting"; }
tree_copied() { test -e /var/service/apid/run; }
alias_added() { ip -4 addr show dev br0 | grep -q 10.123.234.1; }
filter_hooked() { iptables -w -S FORWARD | grep -q NIMBRA_FILTERS; }
sets_made() { ipset list -n | grep -q managedlistv6; }
runsvdir_runs() { pgrep -x runsvdir >/dev/null; }
marked_running() { test -e "$STATUS_DIR/nimbra_running"; }
random_moment() { sleep "$((RANDOM % 3)).$((RANDOM % 10))"; }

# What a killed start (session $1) still had running outside the runit tree.
in_flight() {
    ps -eo pid=,ppid=,sid=,comm=,args= | awk -v sid="$1" '
        { parent[$1] = $2; session[$1] = $3; comm[$1] = $4; line[$1] = $0 }
        END { for (p in session) if (session[p] == sid) {
            for (q = p; q in parent && comm[q] != "runsvdir"; q = parent[q]) {}
            if (!(q in parent)) print line[p] } }'
}
landed() { [[ -z $(in_flight "$1") ]]; }
# killed_at STEP [SIGNAL]: a start sent SIGNAL (KILL) once STEP is done.
killed_at() {
    setsid nimbractl start >"$WORK/out" 2>"$WORK/err" &
    local pid=$! reached=0
    wait_until 30 "$1" 2>/dev/null || reached=$?
    kill -"${2:-KILL}" "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    wait_until 60 landed "$pid" || { in_flight "$pid" && return 1; }
    ((reached == 0)) || { echo "the start never reached $1" && return 1; }
}
marked() {
    [[ -e $STATUS_DIR/nimbra_starting || -e $STATUS_DIR/nimbra_running ]] || { diff "$WORK/fresh" <(state) && return; }
    nimbractl start >"$WORK/out" 2>"$WORK/err"
    [[ $(<"$WORK/err") == "Nimbra already running or starting" ]] && ! says 'Setting up'
}

background_start() { nimbractl start >"$WORK/start.out" 2>&1 & START=$!; }
start_ended() { wait "$START"; }
said_started() { start_ended && grep -q '^Nimbra successfully started\.$' "$WORK/start.out"; }
# within SECONDS CMD...: CMD ends in time with status 0.
within() {
    local status=0
    timeout "$1" "${@:2}" >"$WORK/out" 2>"$WORK/err" || status=$?
    ((status == 0)) || { echo "${*:2}: status $status" && cat "$WORK/out" "$WORK/err" && return 1; }
}
piped_start() { timeout 30 nimbractl start | head -c1 >/dev/null; }
stopped() { agent_processes_end && diff "$WORK/fresh" <(state) && ! test -e "$STATUS_DIR"; }
started() { test -e "$STATUS_DIR/nimbra_running" && eventually all_services_run && diff "$WORK/started" <(state); }
repairs() { while [[ ! -e $WORK/repairs.stop ]]; do nimbra-repair >/dev/null 2>&1; done; }
repairs_end() { touch "$WORK/repairs.stop" && wait "$REPAIRS" && rm "$WORK/repairs.stop"; }
# A slow apid --makecert holds the start between its filter and its running marker.
slow_certificate() {
    mv "$ROOT_DIR/apid" "$ROOT_DIR/apid.real" && rm -f "$DATA_DIR/apid.pem"
    printf '#!/bin/sh\ntouch %s/making\nsleep 3\nexec %s "$@"\n' "$WORK" "$ROOT_DIR/apid.real" >"$ROOT_DIR/apid"
    chmod +x "$ROOT_DIR/apid"
}
certificate_made() { test -e "$WORK/making"; }
# configure KEY VALUE: in the poller's copies and the configuration (nimbra-ini and the poller both write NAME.new).
configure() {
    local file
    for file in "$WORK"/variant?.ini; do NIMBRA_CONFIG=$file nimbra-ini set "$@" || return; done
    cp "$WORK/variant0.ini" "$NIMBRA_CONFIG.configure" && mv -f "$NIMBRA_CONFIG.configure" "$NIMBRA_CONFIG"
}
# The agent's files but the ram directory and the polled configuration (directories without a size).
agent_files() {
    find /var/nimbra -path "$RAM_DIR" -prune -o -path "$NIMBRA_CONFIG*" -prune -o -type d -printf '%p d\n' -o -printf '%p %y %s\n' | sort
}

readonly STOP="nimbractl stop | 0 | ^Nimbra stopped\.$ | stopped"
# state, not snapshot: the poller's own processes come and go.
rows=("before, and polling | state >$WORK/fresh && start_polling | - | - | - | -"
    "twenty starts at once | at_once 20 start | - | - | - | [[ \$(lines start '^Nimbra successfully started\.$') == 1 && \$(lines start '^Nimbra already running or starting$') == 19 ]] && eventually all_services_run && [[ \$(pgrep -cx runsvdir) == 1 ]] && ! test -e $STATUS_DIR/nimbra_starting && state >$WORK/started"
    "ten resets at once, running | touch $DATA_DIR/learned && at_once 10 reset | - | - | - | [[ \$(lines reset '^Nimbra successfully started\.$') == 1 && \$(lines reset '^nimbra agent is resetting, no op$') == 9 && \$(lines reset '^waiting for another nimbractl run to finish ') == 9 ]] && ! test -e $DATA_DIR/learned && eventually all_services_run && [[ \$(pgrep -cx runsvdir) == 1 ]]"
    "stop while repairs run | repairs & REPAIRS=\$! | $STOP && repairs_end && stopped"
    "reset, data and log directories above the agent's root | ln -s /var/nimbra $WORK/above && configure nimbra_path.data $WORK/above && configure nimbra_path.db $WORK/above && configure nimbra_path.log /var/nimbra && agent_files >$WORK/files | nimbractl reset | 0 | ^nimbra_path.data $WORK/above holds the agent's programs or configuration: its files are not removed$ | says '^nimbra_path.log /var/nimbra holds the agent' && diff $WORK/files <(agent_files) && configure nimbra_path.data $DATA_DIR && configure nimbra_path.db /var/nimbra/db && configure nimbra_path.log $LOG_DIR")
for step in marker_taken tree_copied alias_added filter_hooked runsvdir_runs; do
    rows+=("stop once a start has $step | background_start && wait_until 30 $step | $STOP || { said_started && started; }"
        "stop after it | start_ended >/dev/null; true | $STOP")
done
rows+=("firewall flushed while start finishes | slow_certificate && background_start && wait_until 30 certificate_made && flush_firewall | nimbra-repair | 0 | ^Nimbra network state repaired\.$ | said_started && started"
    "stop after it | mv -f $ROOT_DIR/apid.real $ROOT_DIR/apid | $STOP")
# reset_start SECONDS: reset, then start, each in time: nothing waits for a start that is over
# (a reset of a running agent starts it again: more time on a loaded machine).
reset_start() { within "$1" nimbractl reset && within 10 nimbractl start && says '^Nimbra (successfully started\.|already running or starting)$'; }
for step in marker_taken tree_copied alias_added filter_hooked sets_made; do
    rows+=("start ended by SIGTERM at $step, then reset and start | killed_at $step TERM && ! test -e $STATUS_DIR/nimbra_starting | - | - | - | reset_start 10 && started"
        "then stop | - | $STOP")
done
rows+=("start meets SIGHUP, then reset and start | killed_at filter_hooked HUP && grep -q '^Nimbra successfully started\.$' $WORK/out && started | - | - | - | reset_start 30 && started"
    "then stop | - | $STOP" "start meets SIGPIPE, then reset and start | piped_start && started | - | - | - | reset_start 30 && started" "then stop | - | $STOP")
for ((round = 1; round <= ROUNDS; round++)); do
    for step in marker_taken tree_copied alias_added filter_hooked sets_made runsvdir_runs marked_running random_moment; do
        rows+=("round $round: start killed at $step | killed_at $step | - | - | - | marked" "round $round: stop after the kill | - | $STOP")
    done
    rows+=("round $round: start | - | nimbractl start | 0 | ^Nimbra successfully started\.$ | -" "round $round: stop at once | - | $STOP"
        "round $round: start, every service up | - | nimbractl start | 0 | ^Nimbra successfully started\.$ | eventually all_services_run"
        "round $round: stop | - | $STOP")
done
rows+=("status polled all along | - | - | - | - | polled_whole")
run_rows "${rows[@]}"
finish
