#!/usr/bin/env bash
# Size and memory. nimbractl and libvendor.so stripped (copies, each with its
# build's own strip), for this machine's build and the 32-bit ARM cross
# build, against a C++ hello world that holds one std::string, compiled and
# linked with the very flags of each build's nimbractl. Then the peak memory
# (max RSS, /usr/bin/time) of `status -j` and `version -j`, which start no
# process, with the agent running on the sandbox router, against the
# one-line C program.
#
#   bench/size.sh        (as root; the ARM build: cmake --preset armhf &&
#                         cmake --build --preset armhf, or NIMBRA_ARMHF_BUILD)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

need /usr/bin/time
sandboxed "$@"

# stripped BUILD FILE...: each FILE's size in bytes once stripped by BUILD's
# own strip.
stripped() {
    local strip file
    strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$1/CMakeCache.txt")
    for file in "${@:2}"; do
        "$strip" -o "$WORK/stripped" "$file"
        stat --printf '%s ' "$WORK/stripped"
    done
    echo
}

# hello BUILD: builds the hello world with the compiler and flags of BUILD's
# nimbractl (from its Makefiles), into $WORK/hello.
hello() {
    local dir=$1/CMakeFiles/nimbractl.dir cxx compile link
    compile=$(sed -n 's/^CXX_FLAGS = //p' "$dir/flags.make")
    # The link line up to its first object file.
    read -r cxx link < <(sed 's/ [^ ]*\.o .*//' "$dir/link.txt")
    printf '%s\n' '#include <cstdio>' '#include <string>' \
        'int main(int, char **argv) { std::string s(argv[0]); s += ": hello"; std::puts(s.c_str()); }' >"$WORK/hello.cpp"
    # shellcheck disable=SC2086 # lists of words
    $cxx $compile $link -o "$WORK/hello" "$WORK/hello.cpp"
}

# row WHAT VALUE REFERENCE REF_VALUE: a table row, the ratio of the numbers
# VALUE and REF_VALUE begin with.
row() {
    awk -v what="$1" -v value="$2" -v ref="$3" -v ref_value="$4" \
        'BEGIN { printf "| %s | `bench/size.sh` | %s | %s: %s | %.2f |\n", what, value, ref, ref_value, value / ref_value }'
}

context
for build in "$BUILD" "${NIMBRA_ARMHF_BUILD:-$REPO/build/armhf}"; do
    if [[ ! -f $build/bin/nimbractl ]]; then
        echo "${0##*/}: no $build/bin/nimbractl: its row is left out" >&2
        continue
    fi
    hello "$build"
    read -r own lib ref < <(stripped "$build" "$build/bin/nimbractl" "$build/lib/libvendor.so" "$WORK/hello")
    row "stripped size, \`${build##*/}\` build" "$own B (libvendor.so $lib B)" \
        "C++ hello world with one \`std::string\`" "$ref B"
done

settle start
/usr/bin/time -f %M -o "$WORK/c" "$BUILD/bin/bench_one_line" >/dev/null
for word in status version; do
    /usr/bin/time -f %M -o "$WORK/$word" nimbractl "$word" -j >/dev/null
    row "peak memory (max RSS), \`$word -j\`" "$(<"$WORK/$word") kB" "C program printing one line" "$(<"$WORK/c") kB"
done
context
