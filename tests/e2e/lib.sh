# Checks shared by the end-to-end tests (and the demo). A test runs inside
# the sandbox router (sandbox/run), sources this file, makes its checks and
# ends with `finish`, whose status is the test's: 0 when every check passed.
# shellcheck shell=bash
# shellcheck disable=SC2034  # the constants and OUT/ERR/STATUS are for the tests

set -euo pipefail

if [[ ${SANDBOX_ROUTER:-} != 1 ]]; then
    echo "${0##*/}: run me inside the sandbox router: sandbox/run $0" >&2
    exit 2
fi

# The sandbox's agent install and configuration (sandbox/run).
readonly ROOT_DIR=/var/nimbra/agent/shares/usr/bin/
readonly RAM_DIR=/var/nimbra/ram
readonly DATA_DIR=/var/nimbra/data
readonly LOG_DIR=/var/nimbra/log
readonly STATUS_DIR=$RAM_DIR/status
readonly AGENT_SERVICES=(apid configd dnsmasq ipaddr_manager iplistd ipsetd pingpongd rclient
    timetracker webd)
readonly AGENT_SETS=(whitelist-net whitelist-ip filtered torlist unmanaged dnsallow managedlist
    whitelist-ip6 filteredv6 torlistv6 unmanagedv6 dnsallowv6 managedlistv6)

WORK=$(mktemp -d)
readonly WORK
# A sanitized build writes its reports here (tests/e2e/CMakeLists.txt).
if [[ -n ${NIMBRA_SANITIZER_LOGS:-} ]]; then
    rm -rf "$NIMBRA_SANITIZER_LOGS"
    mkdir -p "$NIMBRA_SANITIZER_LOGS"
fi
checks=0
failures=0

pass() {
    checks=$((checks + 1))
    echo "ok   $1"
}

fail() {
    checks=$((checks + 1))
    failures=$((failures + 1))
    echo "FAIL $1"
    shift
    local line
    for line in "$@"; do printf '       %s\n' "$line"; done
}

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
    if [[ $2 == "$3" ]]; then pass "$1"; else fail "$1" "expected: $2" "actual:   $3"; fi
}

# expect_contains WHAT TEXT NEEDLE: NEEDLE is a substring of TEXT.
expect_contains() {
    if [[ $2 == *"$3"* ]]; then pass "$1"; else fail "$1" "missing: $3" "in: ${2:0:2000}"; fi
}

expect_not_contains() {
    if [[ $2 != *"$3"* ]]; then pass "$1"; else fail "$1" "unexpected: $3"; fi
}

# expect_json WHAT JSON FILTER: JSON parses and jq's FILTER yields true.
expect_json() {
    if jq -e "$3" <<<"$2" >/dev/null 2>&1; then pass "$1"; else fail "$1" "jq: $3" "json: $2"; fi
}

# expect_true WHAT CMD...: CMD succeeds.
expect_true() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what" "failed: $*"; fi
}

expect_false() {
    local what=$1
    shift
    if "$@"; then fail "$what" "succeeded: $*"; else pass "$what"; fi
}

# wait_until SECONDS CMD...: polls CMD until it succeeds; 1 on timeout.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

# nimbra ARGS...: runs nimbractl, leaving its streams in OUT and ERR and its
# exit status in STATUS. Files, not pipes: start leaves background scripts
# holding its standard output.
nimbra() {
    STATUS=0
    nimbractl "$@" >"$WORK/out" 2>"$WORK/err" || STATUS=$?
    OUT=$(<"$WORK/out")
    ERR=$(<"$WORK/err")
}

# The router's state (sandbox/bin/router-state) without chain declarations:
# stop leaves the agent's chains in place, empty (expect_agent_chains_empty).
# No pipe: its other end would show up in the process list.
snapshot() {
    router-state >"$WORK/state.raw"
    grep -v '^-N ' "$WORK/state.raw"
}

# expect_same_state WHAT BEFORE_FILE: the router is as BEFORE_FILE recorded.
# A difference must last 5 s to count: a short-lived process of the agent's
# daemons (a stub between two sleeps, a script being run) is not a change.
expect_same_state() {
    local now=$WORK/state.now deadline=$((SECONDS + 5))
    until snapshot >"$now" && diff -u "$2" "$now" >"$WORK/state.diff"; do
        if ((SECONDS >= deadline)); then
            mapfile -t lines <"$WORK/state.diff"
            fail "$1" "${lines[@]}"
            return
        fi
        sleep 0.3
    done
    pass "$1"
}

# The rules in the agent's chains, in both families and every table.
agent_rules() {
    local tool table
    for tool in iptables ip6tables; do
        for table in filter nat mangle; do
            "$tool" -w -t "$table" -S | grep -E '^-A (NIMBRA_[A-Z_]*|UNMANAGED|PAUSE|FILTERED) ' || true
        done
    done
}

expect_agent_chains_empty() {
    expect_eq "$1: agent chains empty" "" "$(agent_rules)"
}

agent_processes_gone() {
    local name
    for name in runsvdir runsv svlogd stubd dnsmasq openssl; do
        ! pgrep -x "$name" >/dev/null || return 1
    done
}

# The supervision report lists all ten services as running.
all_services_run() {
    [[ $("$ROOT_DIR/sv" status /var/service/* 2>/dev/null | grep -c '^run: ') == "${#AGENT_SERVICES[@]}" ]]
}

finish() {
    if [[ -n ${NIMBRA_SANITIZER_LOGS:-} ]]; then
        local reports
        reports=$(cat "$NIMBRA_SANITIZER_LOGS"/* 2>/dev/null || true)
        expect_eq "no sanitizer report" "" "${reports:0:4000}"
    fi
    rm -rf "$WORK"
    echo "${0##*/}: $((checks - failures)) of $checks checks passed"
    ((failures == 0))
}
