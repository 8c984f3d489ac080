# The end-to-end runner. A scenario script sources this file (and so runs in
# a sandbox router of its own) and hands its rows to run_rows.
#
# A row is six fields separated by " | ":
#     what | setup | command | exit | pattern | check
# setup and check are shell code run in the runner's shell (rows share state);
# command is "nimbractl [WORD...]" or "nimbra-repair", run from /var/tmp under a 60 s timeout
# with the environment in ROW_ENV (NAME=VALUE words a setup may set);
# exit is its status; pattern an extended regex that its stdout or stderr
# must match; check must succeed. "-": none. A scenario may define
# after_row, a check run after each row.
# NIMBRA_E2E_MEMCHECK=1 runs every row's command under valgrind's memcheck:
# no invalid access, no uninitialised value used, no leak, no descriptor left.
# shellcheck shell=bash

set -euo pipefail

# The one place that enters the sandbox router (77: this machine cannot host
# it, which CTest reports as a skip).
if [[ ${SANDBOX_ROUTER:-} != 1 ]]; then
    SANDBOX_UNAVAILABLE_STATUS=77 exec "$(dirname "${BASH_SOURCE[0]}")/../../sandbox/run" "$0" "$@"
fi

# The sandbox's paths, waits and snapshots.
# shellcheck source=../../sandbox/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../sandbox/lib.sh"

# A sanitized build writes its reports here (CMakeLists.txt).
if [[ -n ${NIMBRA_SANITIZER_LOGS:-} ]]; then rm -rf "$NIMBRA_SANITIZER_LOGS" && mkdir -p "$NIMBRA_SANITIZER_LOGS"; fi
checks=0 failures=0 ROW_ENV=()

pass() { checks=$((checks + 1)) && echo "ok   $1"; }
fail() {
    checks=$((checks + 1)) failures=$((failures + 1))
    echo "FAIL $1"
    [[ $# -lt 2 ]] || printf '       %s\n' "${@:2}"
}
expect_eq() { if [[ $2 == "$3" ]]; then pass "$1"; else fail "$1" "expected: $2" "actual:   $3"; fi; }

# What the last row's command printed: says ERE (either stream), json FILTER.
says() { grep -qaE -- "$1" "$WORK/out" "$WORK/err"; }
json() { jq -e "$1" "$WORK/out" >/dev/null 2>&1; }
# What a firewall restart does to the agent's rules and hooks.
flush_firewall() {
    local tool table
    for tool in iptables ip6tables; do
        for table in filter nat mangle; do "$tool" -w -t "$table" -F && "$tool" -w -t "$table" -X; done
    done
}

# The row's command, leaving its streams in $WORK/out and $WORK/err.
run_command() {
    [[ $1 == nimbractl || $1 == nimbra-repair ]] || { fail "not a nimbractl command: $*" && return; }
    local runner=(timeout 60 "$1") log=$WORK/memcheck.log
    # The built file, not the sandbox's command (a script that gives it the
    # router's PATH): $ORIGIN/../lib must resolve.
    # shellcheck disable=SC2054  # the commas are valgrind's
    [[ ${NIMBRA_E2E_MEMCHECK:-} != 1 ]] || runner=(timeout 600 env "PATH=$ROUTER_PATH" "$(command -v valgrind)" -q
        --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible --track-fds=yes
        --errors-for-leak-kinds=definite,indirect,possible --log-file="$log" "$(dirname "$(realpath "$NIMBRA_BIN")")/$1")
    # New files: the scripts an earlier start left running still write to
    # the old ones, at their own offsets.
    STATUS=0 && rm -f "$WORK/out" "$WORK/err"
    (cd /var/tmp && env "${ROW_ENV[@]}" "${runner[@]}" "${@:2}") >"$WORK/out" 2>"$WORK/err" || STATUS=$?
    [[ -e $log ]] || return 0
    # --track-fds also lists what the runner handed down; only a descriptor
    # that nimbractl opened itself (shown with where) is a leak.
    awk '/FILE DESCRIPTORS:|^==[0-9]+== *$/ { next }
        /Open file descriptor/ { header = $0; getline; if (/inherited from parent/) next; print header }
        { print }' "$log" >"$WORK/memcheck.report" && rm "$log"
    [[ ! -s $WORK/memcheck.report && $STATUS != 99 ]] || fail "memcheck: $*" "$(<"$WORK/memcheck.report")"
}

# Progress every 10 s for whoever watches a long test: on the terminal when
# there is one (CTest shows a test's output only when it ends), else stderr.
# It waits in a timed read of a FIFO nobody writes (a builtin, so killing the
# ticker leaves no sleep behind); a line written to end it could be lost
# when it meets the timeout, so it is killed instead.
start_ticker() {
    mkfifo "$WORK/tick"
    (
        exec 3<>"$WORK/tick" 4>&2
        { : >/dev/tty; } 2>/dev/null && exec 4>/dev/tty
        until read -rt 10 -u 3 _; do
            read -r doing <"$WORK/doing" || true
            printf '%s: %d s, %s\n' "$TEST_NAME" "$SECONDS" "$doing" >&4
        done
    ) &
    TICKER=$!
}

check() { if eval "$2"; then pass "$1"; else fail "$1"; fi; }

run_rows() {
    local row n=0 what setup command status pattern check
    TEST_NAME=e2e.$(basename "$0" .sh)${NIMBRA_E2E_MEMCHECK:+ (memcheck)}
    start_ticker
    for row; do
        n=$((n + 1))
        IFS=$'\x1f' read -r what setup command status pattern check <<<"${row// | /$'\x1f'}"
        echo "row $n of $#: $what" >"$WORK/doing"
        ROW_ENV=()
        [[ $setup == - ]] || eval "$setup" || fail "$what: setup" "$setup"
        if [[ $command != - ]]; then
            # shellcheck disable=SC2086  # the words are the arguments
            run_command $command
            [[ $status == - ]] || expect_eq "$what: $command exits $status" "$status" "$STATUS"
        fi
        # Background scripts of start may print a moment later.
        [[ $pattern == - ]] || if wait_until 5 says "$pattern"; then pass "$what: prints $pattern"
        else fail "$what: prints $pattern" "$(head -c 2000 "$WORK/out" "$WORK/err")"; fi
        [[ $check == - ]] || check "$what: $check" "$check"
        ! declare -F after_row >/dev/null || check "$what: then after_row" after_row
    done
    kill "$TICKER"
    wait "$TICKER" 2>/dev/null || true  # ended by the signal
}

finish() {
    [[ -z ${NIMBRA_SANITIZER_LOGS:-} ]] || check "no sanitizer report" "! cat \"\$NIMBRA_SANITIZER_LOGS\"/* 2>/dev/null | grep ."
    rm -rf "$WORK"
    echo "${0##*/}: $((checks - failures)) of $checks checks passed"
    ((failures == 0))
}
