#!/usr/bin/env bash
# The INI store on a 4 KB configuration (bench/ini_bench.cpp, Google
# Benchmark): CPU time, median of 5 repetitions, each against reading the
# same file. No root and no sandbox needed.
#
#   bench/ini.sh       (after cmake --preset default && cmake --build --preset default)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

bin=$BUILD/bin/ini_bench
[[ -x $bin ]] || bench_die "no $bin: install libbenchmark-dev, then cmake --preset default && cmake --build --preset default"
declare -A us
# "NAME_median",iterations,real_time,cpu_time,...
while IFS=, read -r name _ _ cpu _; do
    if [[ $name == *_median\" ]]; then printf -v "us[${name:1:-8}]" '%.2f µs' "$cpu"; fi
done < <("$bin" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_time_unit=us --benchmark_format=csv 2>/dev/null)
row "INI load and split, 4 KB" "${us[load]}" "reading the file" "${us[read_file_only]}"
row "INI look-up, 4 KB" "${us[lookup]}" "reading the file" "${us[read_file_only]}"
row "INI, the nine settings of every command, each accessor loading the file" "${us[nine_accessors]}" \
    "reading the file" "${us[read_file_only]}"
