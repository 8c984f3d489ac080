#!/usr/bin/env bash
# Commands against each other, over and over: twenty starts at once, ten
# resets at once, then rounds of start and stop in which a start is killed
# (SIGKILL) at each step it takes and at a random moment, stopped at once,
# or left to bring every service up; all the while status is polled and
# the configuration replaced by copies of other sizes. One start or reset
# goes on, status always answers whole, a killed start leaves a marker for
# any change it made (which holds off the next start), and after each stop
# the router is as before the first start.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

readonly ROUNDS=${NIMBRA_E2E_ROUNDS:-3} DASHES=-------------------------------------------------
# A whole report: from its first to its last line.
readonly STATUS_TEXT="^$DASHES
Nimbra Running: (true|false).*
Nimbra Cloud Connectivity:
rclient: .*
           last logs \(up\): [^
]*
$DASHES\$"
readonly STATUS_JSON='keys_unsorted == ["nimbra-running","nimbra-provisioned","rclient"] and
    (.["nimbra-running"], .["nimbra-provisioned"] | IN("true", "false")) and (.rclient | IN("connected", "disconnected"))'

# Until $WORK/poll.stop appears: the configuration replaced whole (as an
# editor or an update does), then status and status -j, each checked.
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
    echo "$(<"$WORK/poll.done") rounds of status" && ! grep . "$WORK/poll.bad" && [[ -z $(find /var/nimbra -name '*.lock') ]]
}

# at_once N WORD: N commands together; their outputs in $WORK/WORD.*.
at_once() {
    local i pids=()
    for ((i = 0; i < $1; i++)); do nimbractl "$2" >"$WORK/$2.$i" 2>&1 & pids+=($!); done
    wait "${pids[@]}"
}
lines() { cat "$WORK/$1".* | grep -c "$2"; }

# The steps a start is killed at: each test is true once the start reached it.
marker_taken() { test -e "$STATUS_DIR/nimbra_starting"; }
tree_copied() { test -e /var/service/apid/run; }
alias_added() { ip -4 addr show dev br0 | grep -q 10.123.234.1; }
filter_hooked() { iptables -w -S FORWARD | grep -q NIMBRA_FILTERS; }
sets_made() { ipset list -n | grep -q managedlistv6; }
runsvdir_runs() { pgrep -x runsvdir >/dev/null; }
marked_running() { test -e "$STATUS_DIR/nimbra_running"; }
random_moment() { sleep "$((RANDOM % 3)).$((RANDOM % 10))"; }

# The processes of session $1 outside the runit tree: what a killed start
# still had running.
in_flight() {
    ps -eo pid=,ppid=,sid=,comm=,args= | awk -v sid="$1" '
        { parent[$1] = $2; session[$1] = $3; comm[$1] = $4; line[$1] = $0 }
        END { for (p in session) if (session[p] == sid) {
            for (q = p; q in parent && comm[q] != "runsvdir"; q = parent[q]) {}
            if (!(q in parent)) print line[p] } }'
}
landed() { [[ -z $(in_flight "$1") ]]; }
# killed_at STEP: a start in a session of its own, killed once STEP is done;
# then whatever it had running ends.
killed_at() {
    setsid nimbractl start >"$WORK/out" 2>"$WORK/err" &
    local pid=$!
    wait_until 30 "$1" 2>/dev/null || true
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    wait_until 60 landed "$pid" || { in_flight "$pid" && return 1; }
}
# A router the killed start changed carries a marker, which holds off the next start.
marked() {
    [[ -e $STATUS_DIR/nimbra_starting || -e $STATUS_DIR/nimbra_running ]] || { diff "$WORK/fresh" <(state) && return; }
    nimbractl start >"$WORK/out" 2>"$WORK/err"
    [[ $(<"$WORK/err") == "Nimbra already running or starting" ]] && ! says 'Setting up'
}

readonly STOP="nimbractl stop | 0 | ^Nimbra stopped\.$ | agent_processes_end && diff $WORK/fresh <(state) && ! test -e $STATUS_DIR"
# The process lists are left out: the poller's own come and go.
rows=("before, and polling | state >$WORK/fresh && start_polling | - | - | - | -"
    "twenty starts at once | at_once 20 start | - | - | - | [[ \$(lines start '^Nimbra successfully started\.$') == 1 && \$(lines start '^Nimbra already running or starting$') == 19 ]] && eventually all_services_run && [[ \$(pgrep -cx runsvdir) == 1 ]] && ! test -e $STATUS_DIR/nimbra_starting"
    "ten resets at once, running | touch $DATA_DIR/learned && at_once 10 reset | - | - | - | [[ \$(lines reset '^Nimbra successfully started\.$') == 1 && \$(lines reset '^nimbra agent is resetting, no op$') == 9 ]] && ! test -e $DATA_DIR/learned && eventually all_services_run && [[ \$(pgrep -cx runsvdir) == 1 ]]"
    "stop after them | - | $STOP")
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
