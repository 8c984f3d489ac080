#!/usr/bin/env bash
# `nimbractl start` and `stop` against a replay of the commands they run, on
# the sandbox router. strace records one of each: the processes it spawns
# itself are counted, and what they run becomes a bash script (same programs,
# same arguments, same environment, start's pause where it sleeps). hyperfine
# then times each word against its replay, and start without its one-second
# pause (bench/nosleep.c) against the replay without it, and nimbra-repair
# of a running agent against restart.
#
#   bench/start_stop.sh [RUNS]       (as root; default 10 runs each)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The vendor library the replay is recorded with, first in LD_LIBRARY_PATH:
# the reference library without its batch entry point, so that the replay
# is the one-change-at-a-time sequence, timed against nimbractl with the
# whole reference library.
readonly REPLAY_LIBS=$BUILD/lib/literal

runs=${1:-10}
[[ $runs =~ ^[1-9][0-9]*$ ]] || bench_die "usage: bench/start_stop.sh [RUNS]"
need strace hyperfine
sandboxed "$@"

# replay WORD LIBS: what `nimbractl WORD` does itself, with LIBS first in
# its library path, as a bash script: each process it starts runs the same
# program with the same arguments, each pause waits as long; the first line
# counts them; like nimbractl, it ends with status 0. strace logs the tree (one DIR/trace.PID each) until nimbractl
# exits; what it leaves running then goes on untraced. Strings are
# hex-escaped (-xx), which bash reads as $'...' words.
replay() {
    local dir root=
    dir=$(mktemp -d)
    # shellcheck disable=SC2016 # $$ is the traced shell's, then nimbractl's
    strace -ff -q -xx -v -s 65536 -e signal=none -o "$dir/trace" -E "LD_LIBRARY_PATH=$2" \
        -e trace=execve,clone,clone3,fork,vfork,clock_nanosleep,nanosleep \
        -- bash -c 'echo $$ >"$0/root"; exec nimbractl "$1"' "$dir" "$1" >/dev/null 2>&1 &
    local tracer=$!
    until [[ -n $root ]] && grep -qs '^+++ ' "$dir/trace.$root"; do
        kill -0 "$tracer" 2>/dev/null || break
        sleep 0.05
        [[ -s $dir/root ]] && root=$(<"$dir/root")
    done
    # SIGKILL: strace would wait for the daemons; the kernel lets them go.
    kill -KILL "$tracer" 2>/dev/null || true
    wait "$tracer" 2>/dev/null || true
    awk -v root="$dir/trace.$root" -v q="'" '
        # A list of strace strings as bash words, each $q...q.
        function words(list) { gsub(/"/, q, list); gsub(q ", " q, q " $" q, list); return "$" list }
        FNR == 1 { pid = FILENAME; sub(/.*\./, "", pid) }
        FILENAME == root && /^(clone3?|v?fork)\(/ && !/CLONE_THREAD/ && / = [0-9]+$/ { step[++n] = $NF }
        # Pauses of a second or more (the one in start): the short polls of
        # stop for the supervisors to end are no command of the sequence.
        FILENAME == root && /nanosleep\(/ && !/tv_sec=0,/ {
            split($0, t, /tv_sec=|, tv_nsec=|}/)
            step[++n] = sprintf("read -rt %d.%09d _ <> <(:)", t[2], t[3])
        }
        # execve("FILE", [ARGV...], [ENV...]) = 0: FILE runs with ARGV but argv[0].
        FILENAME != root && !(pid in run) && /^execve\(.* = 0$/ {
            split($0, part, /\[|\]/)
            file = substr($0, 8, index($0, ",") - 8)
            sub(/^"[^"]*"(, )?/, "", part[2])
            run[pid] = words(file (part[2] == "" ? "" : ", " part[2]))
            shell[pid] = file ~ /\\x2f\\x73\\x68"$/
            env[pid] = part[4]
        }
        END {
            for (i = 1; i <= n; i++) {
                if (step[i] ~ /^read/) { body = body step[i] "\n"; continue }
                processes++
                shells += shell[step[i]]
                if (step[i] in run) body = body run[step[i]] "\n"
                if (!first) first = step[i]
            }
            printf "# processes %d shell %d\nexport %s; unset LD_LIBRARY_PATH\n%sexit 0\n", processes, shells,
                words(env[first]), body
        }' "$dir"/trace.*
    rm -r "$dir"
}

# The router's configuration: rules, sets, addresses, routes, service tree.
router_config() {
    router-state | sed '/^## processes/,$d'
}

main() {
    context
    # The first start makes certificates and records the MAC address.
    settle start
    local side word
    local -A libs=([own]=$BUILD/lib [replay]=$REPLAY_LIBS)
    for side in own replay; do
        settle stop
        for word in start stop; do
            replay "$word" "${libs[$side]}" >"$WORK/$side.$word"
            awaited "$word"
            router_config >"$WORK/$word.config"
        done
    done
    for word in start stop; do
        bash "$WORK/replay.$word" >/dev/null 2>&1
        awaited "$word"
        router_config | diff -u "$WORK/$word.config" - >&2 ||
            echo "${0##*/}: warning: the replayed $word leaves another router than nimbractl $word" >&2
    done
    sed '/^read -rt /d' "$WORK/replay.start" >"$WORK/replay.start-nopause"

    local processes shells reference
    for word in start stop; do
        read -r _ _ processes _ shells _ <"$WORK/own.$word"
        read -r _ _ reference _ <"$WORK/replay.$word"
        row "processes spawned by \`$word\`" "$processes ($shells through /bin/sh)" "its replay" "$reference"
    done
    local -a opts=(--runs "$runs" --warmup 1)
    compare "\`start\`" "its replay" "bash $WORK/replay.start" "nimbractl start" "${opts[@]}" --prepare "$SETTLE stop"
    compare "\`start\` without its 1 s pause" "its replay without it" "bash $WORK/replay.start-nopause" \
        "env LD_PRELOAD=$BUILD/lib/libbench_nosleep.so nimbractl start" "${opts[@]}" --prepare "$SETTLE stop"
    compare "\`stop\`" "its replay" "bash $WORK/replay.stop" "nimbractl stop" "${opts[@]}" --prepare "$SETTLE start"
    compare "\`nimbra-repair\` of a running agent" "\`restart\`" "nimbractl restart" "nimbra-repair" "${opts[@]}" \
        --prepare "$SETTLE start"
    context
}

main
