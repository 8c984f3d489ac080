#!/usr/bin/env bash
# What a web UI polls, `nimbractl status -j` and `version -j`, against the
# one-line C program (bench_one_line: what any short-lived command pays to
# start and exit), with the agent running on the sandbox router so that
# status reads the files its services write.
#
#   bench/reports.sh [RUNS]        (as root; default 500 runs each)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

runs=${1:-500}
[[ $runs =~ ^[1-9][0-9]*$ ]] || bench_die "usage: bench/reports.sh [RUNS]"
need hyperfine
sandboxed "$@"

context
settle start
for word in status version; do
    compare "\`$word -j\`" "C program printing one line" "$BUILD/bin/bench_one_line" "nimbractl $word -j" \
        --warmup 20 --runs "$runs"
done
context
