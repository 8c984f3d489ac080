#!/usr/bin/env bash
# What a web UI polls, `nimbractl status -j` and `version -j`: wall time
# (hyperfine) and peak memory (max RSS, /usr/bin/time) against the one-line
# C program (what any short-lived command pays), with the agent running on
# the sandbox router so that status reads the files its services write.
#
#   bench/reports.sh [RUNS]        (as root; default 500 runs each)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

runs=${1:-500}
[[ $runs =~ ^[1-9][0-9]*$ ]] || bench_die "usage: bench/reports.sh [RUNS]"
need hyperfine /usr/bin/time
sandboxed "$@"

readonly C_PROGRAM=$BUILD/bin/bench_one_line
context
settle start
/usr/bin/time -f %M -o "$WORK/c.kB" "$C_PROGRAM" >/dev/null
for word in status version; do
    compare "\`$word -j\`" "C program printing one line" "$C_PROGRAM" "nimbractl $word -j" --warmup 20 --runs "$runs"
    /usr/bin/time -f %M -o "$WORK/$word.kB" nimbractl "$word" -j >/dev/null
    row "peak memory (max RSS), \`$word -j\`" "$(<"$WORK/$word.kB") kB" "the C program" "$(<"$WORK/c.kB") kB"
done
context
