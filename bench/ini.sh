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
"$bin" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
    awk -F , '
        # "NAME_median", iterations, real time, CPU time (ns), ...
        $1 ~ /_median"$/ { name = substr($1, 2, length($1) - 9); us[name] = $4 / 1000; order[++n] = name }
        END {
            label["load"] = "INI load and split, 4 KB"
            label["lookup"] = "INI look-up, 4 KB"
            label["nine_accessors"] = "INI, the nine settings of every command, each accessor loading the file"
            for (i = 1; i <= n; i++)
                if (order[i] in label)
                    printf "| %s | `bench/ini.sh` | %.2f µs | reading the file: %.2f µs | %.2f |\n",
                        label[order[i]], us[order[i]], us["read_file_only"], us[order[i]] / us["read_file_only"]
        }'
