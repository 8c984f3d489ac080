#!/usr/bin/env bash
# Long fuzz run of one target:
#   fuzz/run.sh TARGET [RUNS] [JOBS]
# TARGET is tkvs, json, if_inet6 or reports (or fuzz_<name>); RUNS defaults
# to 10000000 executions (per job), JOBS to 1. Builds nothing: build the
# targets first with
#   cmake --preset fuzz && cmake --build --preset fuzz
# Reads the committed corpus fuzz/corpus/fuzz_<name>/, writes new inputs to
# build/fuzz/corpus-fuzz_<name>/, crash inputs to
# build/fuzz/artifacts-fuzz_<name>/ and the log to build/fuzz/run-fuzz_<name>.log.
set -euo pipefail

usage() {
    echo "usage: fuzz/run.sh tkvs|json|if_inet6|reports [RUNS] [JOBS]" >&2
    exit 2
}
[ $# -ge 1 ] || usage

here=$(cd "$(dirname "$0")" && pwd)
build=$here/../build/fuzz
target=fuzz_${1#fuzz_}
runs=${2:-10000000}
jobs=${3:-1}
binary=$build/bin/$target

[ -d "$here/corpus/$target" ] || usage
if [ ! -x "$binary" ]; then
    echo "run.sh: $binary is missing; build it with: cmake --preset fuzz && cmake --build --preset fuzz" >&2
    exit 1
fi

corpus=$build/corpus-$target
artifacts=$build/artifacts-$target
log=$build/run-$target.log
mkdir -p "$corpus" "$artifacts"

# No fill of fresh allocations and a small quarantine: several times faster
# on the readers' many short-lived FILE buffers; overruns are still caught.
export ASAN_OPTIONS=${ASAN_OPTIONS:-max_malloc_fill_size=0:quarantine_size_mb=16}

set -- -runs="$runs" -timeout=5 -rss_limit_mb=1024 -print_final_stats=1 \
    -artifact_prefix="$artifacts/"
[ -f "$here/$target.dict" ] && set -- "$@" -dict="$here/$target.dict"
if [ "$jobs" -gt 1 ]; then
    # libFuzzer writes one fuzz-N.log per job into the working directory.
    cd "$build"
    set -- "$@" -jobs="$jobs" -workers="$jobs"
fi

echo "run.sh: $target, $runs runs x $jobs job(s); log in $log" >&2
"$binary" "$@" "$corpus" "$here/corpus/$target" 2>&1 | tee "$log"
