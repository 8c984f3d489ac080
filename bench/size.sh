#!/usr/bin/env bash
# nimbractl and libvendor.so stripped (copies, by each build's own strip),
# for this machine's build, the 32-bit ARM cross build and the musl builds
# (x86_64, 32-bit ARM, big-endian MIPS), against a C++ hello world that holds
# one std::string, compiled and linked with the very flags of each build's
# nimbractl (read from its Makefiles).
#
#   bench/size.sh        (a build's row needs its build: cmake --preset armhf && cmake --build --preset armhf,
#                         the same for musl-x86_64, musl-armhf and musl-mips; or NIMBRA_ARMHF_BUILD)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

printf '%s\n' '#include <cstdio>' '#include <string>' \
    'int main(int, char **argv) { std::string s(argv[0]); s += ": hello"; std::puts(s.c_str()); }' >"$WORK/hello.cpp"
for build in "$BUILD" "${NIMBRA_ARMHF_BUILD:-$REPO/build/armhf}" "$REPO"/build/musl-{x86_64,armhf,mips}; do
    dir=$build/CMakeFiles/nimbractl.dir
    if [[ ! -f $dir/link.txt || ! -x $build/bin/nimbractl ]]; then
        echo "${0##*/}: no $build: its row is left out" >&2
        continue
    fi
    compile=$(sed -n 's/^CXX_FLAGS = //p' "$dir/flags.make")
    # The link line up to its first object file.
    read -r cxx link < <(sed 's/ [^ ]*\.o .*//' "$dir/link.txt")
    # zig links a program without shared libraries statically: there it
    # links libvendor.so too, as nimbractl does.
    vendor=
    ! grep -q '^NIMBRA_ZIG:' "$build/CMakeCache.txt" || vendor=$build/lib/libvendor.so
    # shellcheck disable=SC2086 # lists of words
    $cxx $compile -c -o "$WORK/hello.o" "$WORK/hello.cpp" && $cxx $link -o "$WORK/hello" "$WORK/hello.o" $vendor
    sizes=()
    for file in "$build/bin/nimbractl" "$build/lib/libvendor.so" "$WORK/hello"; do
        "$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$build/CMakeCache.txt")" -o "$WORK/stripped" "$file"
        sizes+=("$(stat -c %s "$WORK/stripped")")
    done
    row "stripped size, \`${build##*/}\` build" "${sizes[0]} B (libvendor.so ${sizes[1]} B)" \
        "C++ hello world with one \`std::string\`" "${sizes[2]} B"
done
