#!/usr/bin/env bash
# Every command word under valgrind's memcheck on the sandbox router: no
# invalid access, no uninitialised value used, no leaked block, no
# descriptor left open. The caches kept for the life of the process stay
# reachable and are not errors.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

command -v valgrind >/dev/null || { echo "memcheck.sh: valgrind is not installed" >&2; exit 77; }

# The real file, not the sandbox's link to it: $ORIGIN/../lib must resolve.
NIMBRA_REAL=$(realpath "$(command -v nimbractl)")
readonly NIMBRA_REAL
readonly MEMCHECK_ERROR=99

# memcheck WORD...: runs nimbractl WORD... under memcheck, like `nimbra`,
# and checks that valgrind found nothing.
memcheck() {
    local log=$WORK/memcheck.log
    STATUS=0
    valgrind -q --error-exitcode=$MEMCHECK_ERROR --leak-check=full --show-leak-kinds=definite,indirect,possible \
        --errors-for-leak-kinds=definite,indirect,possible --track-fds=yes --log-file="$log" \
        "$NIMBRA_REAL" "$@" >"$WORK/out" 2>/dev/null || STATUS=$?
    OUT=$(<"$WORK/out")
    # --track-fds also lists the descriptors this script handed down; only
    # one that nimbractl opened itself (shown with where) is a leak.
    local report
    report=$(awk '/FILE DESCRIPTORS:|^==[0-9]+== *$/ { next }
        /Open file descriptor/ { header = $0; getline; if (/inherited from parent/) next; print header }
        { print }' "$log")
    if ((STATUS == MEMCHECK_ERROR)) || [[ -n $report ]]; then
        mapfile -t lines <<<"$report"
        fail "memcheck: nimbractl $*" "${lines[@]}"
    else
        pass "memcheck: nimbractl $*"
    fi
}

# word arguments | expected exit status | expected text on stdout
readonly WORDS=(
    "help|1|nimbractl <command>"
    "bogus|1|nimbractl <command>"
    "version|0|Nimbra Agent Version:"
    "version -j|0|{"
    "status|0|Nimbra Running: false"
    "status -j|0|\"nimbra-running\":\"false\""
    "pfc|0|Nimbra successfully started."
    "status|0|Nimbra Running: true"
    "status -j|0|\"nimbra-running\":\"true\""
    "restart|0|Nimbra successfully started."
    "start|0|"
    "reset|0|Nimbra stopped."
    "stop|0|Nimbra stopped."
    "start|0|Nimbra successfully started."
    "stop|0|Nimbra stopped."
)

memcheck
expect_eq "no word: exit status" 1 "$STATUS"
for row in "${WORDS[@]}"; do
    IFS='|' read -r words want_status want_out <<<"$row"
    read -ra argv <<<"$words"
    memcheck "${argv[@]}"
    expect_eq "$words: exit status" "$want_status" "$STATUS"
    expect_contains "$words: output" "$OUT" "$want_out"
    [[ ${argv[0]} != start && ${argv[0]} != pfc && ${argv[0]} != restart ]] ||
        wait_until 15 all_services_run || true
done

finish
