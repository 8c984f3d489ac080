#!/usr/bin/env bash
# What a web UI polls: `nimbractl status -j` and `nimbractl version -j`, on
# the sandbox router with the agent started (status reads the files its
# services write), against a C program that prints one line. Each runs RUNS
# times in a tight loop, output to /dev/null, in rounds that take turns so
# that a busy moment of the machine hits all three alike.
#
#   bench/reports.sh [RUNS]       (as root; default 500 runs each)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

runs=${1:-500}
readonly ROUNDS=5
if ! [[ $runs =~ ^[1-9][0-9]*$ ]] || ((runs % ROUNDS)); then
    bench_die "usage: bench/reports.sh [RUNS], RUNS a multiple of $ROUNDS"
fi
if [[ ${SANDBOX_ROUTER:-} != 1 ]]; then
    need_tool cc gcc
    enter_sandbox "$BENCH_DIR/reports.sh" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# loop_us N CMD...: runs CMD N times; the total wall time in µs in REPLY.
loop_us() {
    local n=$1 i
    shift
    local t0=$EPOCHREALTIME
    for ((i = 0; i < n; i++)); do "$@" >/dev/null; done
    local t1=$EPOCHREALTIME
    REPLY=$((10#${t1/./} - 10#${t0/./}))
}

main() {
    print_context
    c_baseline "$work"
    local c_program=$REPLY
    nimbractl start >"$work/start.out" 2>&1
    wait_services_run

    local -a names=("status -j" "version -j" "C one line")
    local -a cmds=("nimbractl status -j" "nimbractl version -j" "$c_program")
    local -A total=() best=()
    local per_round=$((runs / ROUNDS)) round i
    local -a cmd
    for ((i = 0; i < ${#cmds[@]}; i++)); do
        read -r -a cmd <<<"${cmds[i]}"
        "${cmd[@]}" >/dev/null # warm the page cache
    done
    for ((round = 0; round < ROUNDS; round++)); do
        for ((i = 0; i < ${#cmds[@]}; i++)); do
            read -r -a cmd <<<"${cmds[i]}"
            loop_us "$per_round" "${cmd[@]}"
            total[$i]=$((${total[$i]:-0} + REPLY))
            if [[ -z ${best[$i]:-} ]] || ((REPLY < best[$i])); then best[$i]=$REPLY; fi
        done
    done

    local c_mean=$((total[2] / runs)) mean
    echo
    printf '  %d runs each, %d rounds  mean/run   best round/run   more than C   ratio to C\n' "$runs" "$ROUNDS"
    for ((i = 0; i < ${#cmds[@]}; i++)); do
        mean=$((total[$i] / runs))
        printf '  %-22s %8s ms   %8s ms     %8s ms   %s\n' "${names[i]}" "$(ms "$mean")" \
            "$(ms $((best[$i] / per_round)))" "$(ms $((mean - c_mean)))" "$(ratio "$mean" "$c_mean")"
    done
    echo "(times include bash's fork and exec of each run, the same for all three; target <= 1.2)"
}

main
