#!/usr/bin/env bash
# The INI store on a 4 KB configuration (Google Benchmark, bench/ini_bench.cpp):
# loading, one look-up, and the nine look-ups of every command, each against
# the floor of reading the same file into a buffer. Medians of 5 repetitions,
# CPU time (the wall clock of a busy machine adds its waits to both sides).
#
#   bench/ini.sh       (after cmake --preset default && cmake --build --preset default)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly BENCH_BIN=${NIMBRA_INI_BENCH:-$REPO/build/default/bin/ini_bench}
[[ -x $BENCH_BIN ]] || bench_die "no $BENCH_BIN: install libbenchmark-dev, then cmake --preset default && cmake --build --preset default"
need_tool jq jq

json=$("$BENCH_BIN" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_format=json 2>/dev/null)
jq -r '
    [.benchmarks[] | select(.aggregate_name == "median")] as $b
    | ($b[] | select(.run_name == "read_file_only") | .cpu_time) as $floor
    | "  median of 5, CPU time        per call    ratio to reading the file",
      ($b[] | "  \(.run_name | . + " " * (26 - length)) \(.cpu_time / 1000 * 100 | round / 100 | tostring | " " * (7 - length) + .) µs    \(.cpu_time / $floor * 100 | round / 100)")
' <<<"$json"
echo "(read_file_only is the floor: open, read and close the same 4 KB file)"
