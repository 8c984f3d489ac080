# The end-to-end runner: a scenario sources it (entering a sandbox router of
# its own) and hands run_rows its rows, "what | setup | command | exit |
# pattern | check" ("-": none). setup and check run in this shell; command
# ("nimbractl ..." or "nimbra-repair") runs from /var/tmp under a 60 s timeout
# with ROW_ENV, and must exit with exit and print pattern (an ERE) on stdout
# or stderr. after_row, if defined, is checked after each row.
# NIMBRA_E2E_MEMCHECK=1 runs each command under memcheck.
# shellcheck shell=bash

set -euo pipefail

# 77: this machine cannot host the sandbox, a skip for CTest.
if [[ ${SANDBOX_ROUTER:-} != 1 ]]; then
    SANDBOX_UNAVAILABLE_STATUS=77 exec "$(dirname "${BASH_SOURCE[0]}")/../../sandbox/run" "$0" "$@"
fi

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

# What the row's command printed: says ERE (either stream), json FILTER.
says() { grep -qaE -- "$1" "$WORK/out" "$WORK/err"; }
json() { jq -e "$1" "$WORK/out" >/dev/null 2>&1; }
# What a firewall restart does to the agent's rules and hooks.
flush_firewall() {
    local tool table
    for tool in iptables ip6tables; do
        for table in filter nat mangle; do "$tool" -w -t "$table" -F && "$tool" -w -t "$table" -X; done
    done
}

# The row's command, its streams in $WORK/out and $WORK/err.
run_command() {
    [[ $1 == nimbractl || $1 == nimbra-repair ]] || { fail "not a nimbractl command: $*" && return; }
    local runner=(timeout 60 "$1") log=$WORK/memcheck.log
    # The built file, not the sandbox's wrapper: $ORIGIN/../lib must resolve.
    # shellcheck disable=SC2054  # the commas are valgrind's
    [[ ${NIMBRA_E2E_MEMCHECK:-} != 1 ]] || runner=(timeout 600 env "PATH=$ROUTER_PATH" "$(command -v valgrind)" -q
        --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible --track-fds=yes
        --errors-for-leak-kinds=definite,indirect,possible --log-file="$log" "$(dirname "$(realpath "$NIMBRA_BIN")")/$1")
    # New files: an earlier start's scripts still write to the old ones.
    STATUS=0 && rm -f "$WORK/out" "$WORK/err"
    (cd /var/tmp && env "${ROW_ENV[@]}" "${runner[@]}" "${@:2}") >"$WORK/out" 2>"$WORK/err" || STATUS=$?
    [[ -e $log ]] || return 0
    # Only a descriptor nimbractl opened itself is a leak, not one handed down.
    awk '/FILE DESCRIPTORS:|^==[0-9]+== *$/ { next }
        /Open file descriptor/ { header = $0; getline; if (/inherited from parent/) next; print header }
        { print }' "$log" >"$WORK/memcheck.report" && rm "$log"
    [[ ! -s $WORK/memcheck.report && $STATUS != 99 ]] || fail "memcheck: $*" "$(<"$WORK/memcheck.report")"
}

# Progress every 10 s on the terminal (CTest shows output only at the end),
# else stderr. A timed read of a FIFO nobody writes: killing it leaves no sleep.
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
