#!/bin/sh
# A long run of one target, after `cmake --preset fuzz && cmake --build --preset fuzz`:
#   fuzz/run.sh tkvs|json|reports [RUNS] [libFuzzer options...]
# New inputs go to build/fuzz/corpus-fuzz_<name>/, crash inputs to the working directory.
set -eu
here=$(cd "$(dirname "$0")" && pwd) target=fuzz_${1#fuzz_} runs=${2:-10000000}
shift $(($# < 2 ? $# : 2))
mkdir -p "$here/../build/fuzz/corpus-$target"
exec "$here/../build/fuzz/bin/$target" -dict="$here/$target.dict" -runs="$runs" -timeout=5 "$@" \
    "$here/../build/fuzz/corpus-$target" "$here/corpus/$target"
