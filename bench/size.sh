#!/usr/bin/env bash
# Size and memory: nimbractl and libvendor.so stripped (a copy is stripped)
# and what they need at run time (NEEDED), for this machine's build and the
# 32-bit ARM cross build side by side, beside two C++ hello worlds compiled
# and linked with the very flags of each build (one that only calls puts,
# one that uses a std::string and so links libstdc++'s exception runtime);
# then the peak memory of each command word on the sandbox router: the
# maximum RSS that /usr/bin/time reports (the largest of nimbractl and the
# children it waited for) and nimbractl's own peak (read from /proc while
# strace holds it at its exit), beside a C program that prints one line.
#
#   bench/size.sh                 (as root)
#
# The ARM build is NIMBRA_ARMHF_BUILD (default build/armhf: cmake --preset
# armhf && cmake --build --preset armhf); without it its column shows "-".
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

# The rows of the size table: each build's nimbractl, its libvendor.so and
# the two hello worlds.
readonly SIZE_ROWS=(nimbractl libvendor.so hello_puts hello_string)
readonly SIZE_LABELS=(nimbractl libvendor.so "C++ hello, puts" "C++ hello, std::string")
declare -A stripped needed

# build_flags BUILD: the compiler, compile flags and link flags of BUILD's
# nimbractl, read from its Makefiles, into flags_cxx, flags_compile and
# flags_link; non-zero when BUILD has none.
build_flags() {
    local target=$1/CMakeFiles/nimbractl.dir
    [[ -f $target/flags.make && -f $target/link.txt ]] || return 1
    flags_compile=$(sed -n 's/^CXX_FLAGS = //p' "$target/flags.make")
    # The link line up to its first object file.
    read -r flags_cxx flags_link < <(awk '{ for (i = 1; i <= NF && $i !~ /\.o$/; i++) printf "%s ", $i; print ""; exit }' \
        "$target/link.txt")
    [[ -n $flags_cxx ]]
}

# measure_build ARCH NIMBRACTL: stripped size and NEEDED entries of
# NIMBRACTL, of the libvendor.so it loads (lib/ beside its bin/) and of the
# hello worlds built with its build's flags, into stripped[ARCH,ROW] and
# needed[ARCH,ROW]; each stripped with the build's own strip.
measure_build() {
    local arch=$1 nimbractl=$2 build=${2%/bin/*} strip_tool row file copy
    local flags_cxx flags_compile flags_link
    strip_tool=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
    declare -A files=([nimbractl]=$nimbractl [libvendor.so]=${nimbractl%/*}/../lib/libvendor.so)
    if build_flags "$build"; then
        printf '#include <cstdio>\nint main() { std::puts("hello, world"); return 0; }\n' >"$work/hello_puts.cpp"
        printf '%s\n' '#include <cstdio>' '#include <string>' \
            'int main(int, char **argv) { std::string s(argv[0]); s += ": hello, world"; std::puts(s.c_str()); return 0; }' \
            >"$work/hello_string.cpp"
        for row in hello_puts hello_string; do
            # shellcheck disable=SC2086 # the flags are lists of words
            $flags_cxx $flags_compile $flags_link -o "$work/$arch-$row" "$work/$row.cpp" &&
                files[$row]=$work/$arch-$row
        done
    fi
    for row in "${SIZE_ROWS[@]}"; do
        file=${files[$row]:-}
        [[ -f $file ]] || continue
        copy=$work/$arch-$row.stripped
        "${strip_tool:-strip}" -o "$copy" "$file"
        stripped[$arch,$row]="$(stat -c %s "$copy") B"
        needed[$arch,$row]=$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | paste -sd ' ')
    done
}

# print_sizes: the size table, this machine's build beside the ARM build.
print_sizes() {
    local i row
    printf '  %-24s %12s %12s\n' "stripped size" "$host_arch" armhf
    for i in "${!SIZE_ROWS[@]}"; do
        row=${SIZE_ROWS[i]}
        printf '  %-24s %12s %12s\n' "${SIZE_LABELS[i]}" "${stripped[$host_arch,$row]:--}" "${stripped[armhf,$row]:--}"
    done
    printf '  %-24s %s\n' NEEDED "$host_arch / armhf"
    for i in "${!SIZE_ROWS[@]}"; do
        row=${SIZE_ROWS[i]}
        printf '  %-24s %s / %s\n' "${SIZE_LABELS[i]}" "${needed[$host_arch,$row]:--}" "${needed[armhf,$row]:--}"
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
    local nimbractl armhf=${NIMBRA_ARMHF_BUILD:-$REPO/build/armhf}/bin/nimbractl
    nimbractl=$(readlink -f "$(command -v nimbractl)")
    ldd "$nimbractl" | grep -q '^[[:space:]]*libvendor\.so => /' || bench_die "nimbractl finds no libvendor.so"
    host_arch=$(uname -m)
    measure_build "$host_arch" "$nimbractl"
    if [[ -f $armhf ]]; then
        measure_build armhf "$armhf"
    else
        echo "(no $armhf: cmake --preset armhf && cmake --build --preset armhf)"
    fi
    echo
    print_sizes

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
