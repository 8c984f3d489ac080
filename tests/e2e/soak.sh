#!/usr/bin/env bash
# Fifty cycles of start and stop: after every stop the rule set, IP sets,
# addresses, routes, /var/service and the process list are as before the
# first start. Every other stop comes right after the start, while runit is
# still bringing the services up. Prints only failures (one line each,
# with the cycle) and a summary.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

readonly CYCLES=${SOAK_CYCLES:-50}

pass() {
    checks=$((checks + 1))
}

# One line: the check and its first differing lines.
fail() {
    checks=$((checks + 1))
    failures=$((failures + 1))
    local detail
    detail=$(printf '%s\n' "${@:2}" | grep -E '^[-+][^-+]|^(expected|actual|failed)' | head -4 | paste -sd '|')
    echo "FAIL $1${detail:+: $detail}"
}

# Milliseconds since the epoch.
now_ms() {
    local t=$EPOCHREALTIME
    echo $((${t/./} / 1000))
}

snapshot >"$WORK/fresh"
begin=$SECONDS
slowest=0
fastest=999999
for ((cycle = 1; cycle <= CYCLES; cycle++)); do
    t0=$(now_ms)
    nimbra start
    t1=$(now_ms)
    elapsed=$((t1 - t0))
    ((elapsed > slowest)) && slowest=$elapsed
    ((elapsed < fastest)) && fastest=$elapsed
    expect_contains "cycle $cycle: start" "$OUT" "Nimbra successfully started."
    if ((cycle % 2 == 0)); then
        expect_true "cycle $cycle: services run" wait_until 15 all_services_run
    fi
    nimbra stop
    expect_contains "cycle $cycle: stop" "$OUT" "Nimbra stopped."
    expect_true "cycle $cycle: agent processes end" wait_until 10 agent_processes_gone
    expect_same_state "cycle $cycle: router as before the first start" "$WORK/fresh"
done
echo "$CYCLES cycles in $((SECONDS - begin)) s; start took ${fastest} to ${slowest} ms"

finish
