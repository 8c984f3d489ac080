#!/usr/bin/env bash
# Size and memory: nimbractl and libvendor.so stripped (a copy is stripped)
# and what they need at run time (NEEDED), then the peak memory of each
# command word on the sandbox router: the maximum RSS that /usr/bin/time
# reports (the largest of nimbractl and the children it waited for) and
# nimbractl's own peak (read from /proc while strace holds it at its exit),
# beside a C program that prints one line.
#
#   bench/size.sh                 (as root)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

if [[ ${SANDBOX_ROUTER:-} != 1 ]]; then
    need_tool strace strace
    need_tool /usr/bin/time time
    need_tool readelf binutils
    need_tool cc gcc
    enter_sandbox "$BENCH_DIR/size.sh" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# files FILE...: size, stripped size and NEEDED entries of each file.
files() {
    local file copy
    printf '  %-14s %12s %12s   %s\n' "" "as built" stripped "NEEDED"
    for file; do
        copy=$work/${file##*/}
        strip -o "$copy" "$file"
        printf '  %-14s %10s B %10s B   %s\n' "${file##*/}" "$(stat -c %s "$file")" "$(stat -c %s "$copy")" \
            "$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | paste -sd ' ')"
    done
}

# own_peak_kb CMD...: CMD's own peak RSS in kB, into REPLY: the larger of
# VmHWM and VmRSS (counted from its page tables), read while strace holds it
# at exit_group. Its children are neither traced nor held.
own_peak_kb() {
    strace -qq -o /dev/null -e trace=exit_group -e inject=exit_group:delay_enter=300000 \
        -- "$@" >>"$work/output" 2>&1 &
    local tracer=$! pid peak
    REPLY='?'
    until pid=$(pgrep -P "$tracer"); do sleep 0.005; done
    while peak=$(awk '/^Vm(HWM|RSS):/ && $2 > kb { kb = $2 } END { if (kb) print kb; else exit 1 }' \
        "/proc/$pid/status" 2>/dev/null); do
        REPLY=$peak
        sleep 0.02
    done
    wait "$tracer" || true
}

# max_rss_kb CMD...: the maximum RSS /usr/bin/time reports for CMD, in REPLY.
max_rss_kb() {
    /usr/bin/time -f %M -o "$work/rss" "$@" >>"$work/output" 2>&1 || true
    REPLY=$(tail -1 "$work/rss")
}

# measure HOW: HOW (max_rss_kb or own_peak_kb) for each command word, in the
# order that gives each its state (status with the agent running), into
# peak_HOW_WORD.
measure() {
    local word
    for word in help start status version stop; do
        case $word in
        status | version) "$1" nimbractl "$word" -j ;;
        *) "$1" nimbractl "$word" ;;
        esac
        printf -v "peak_${1}_$word" %s "$REPLY"
        [[ $word != start ]] || wait_services_run
        [[ $word != stop ]] || wait_agent_gone
    done
    "$1" "$c_program"
    printf -v "peak_${1}_c" %s "$REPLY"
}

main() {
    print_context
    local nimbractl vendor
    nimbractl=$(readlink -f "$(command -v nimbractl)")
    vendor=$(ldd "$nimbractl" | awk '$1 == "libvendor.so" { print $3 }')
    [[ -f $vendor ]] || bench_die "nimbractl finds no libvendor.so"
    echo
    files "$nimbractl" "$vendor"

    c_baseline "$work"
    c_program=$REPLY
    # Warm-up: the first start makes certificates and records the MAC.
    nimbractl start >>"$work/output" 2>&1
    nimbractl stop >>"$work/output" 2>&1
    wait_agent_gone

    measure max_rss_kb
    measure own_peak_kb

    echo
    printf '  %-22s %11s %13s\n' "peak memory" "max RSS" "own peak"
    local word label rss own
    for word in help start status version stop c; do
        case $word in
        status | version) label="nimbractl $word -j" ;;
        c) label="C program, one line" ;;
        *) label="nimbractl $word" ;;
        esac
        rss=peak_max_rss_kb_$word own=peak_own_peak_kb_$word
        printf '  %-22s %8s kB %10s kB\n' "$label" "${!rss}" "${!own}"
    done
    echo "(max RSS: /usr/bin/time, the largest of the process and the children it waited for;"
    echo " own peak: the process alone, VmHWM or VmRSS at its exit, whichever is larger)"
}

main
