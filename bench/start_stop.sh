#!/usr/bin/env bash
# `nimbractl start` and `stop` against a replay of the commands they run, on
# the sandbox router. strace records one of each: the processes it spawns
# itself are counted, and what they run becomes a bash script (same programs,
# same arguments, same environment, start's pause where it sleeps). hyperfine
# then times each word against its replay, and start without its one-second
# pause (bench/nosleep.c) against the replay without it.
#
#   bench/start_stop.sh [RUNS]       (as root; default 10 runs each)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The vendor library the replay is recorded with (LD_LIBRARY_PATH): point it
# at a library without the batch entry point to replay one-by-one commands.
readonly REPLAY_LIBS=$BUILD/lib

runs=${1:-10}
[[ $runs =~ ^[1-9][0-9]*$ ]] || bench_die "usage: bench/start_stop.sh [RUNS]"
need strace hyperfine
sandboxed "$@"

# replay WORD LIBS: what `nimbractl WORD` does itself, with LIBS first in
# its library path, as a bash script: each process it starts runs the same
# program with the same arguments, each pause waits as long; the first line
# counts them. strace logs the tree (one DIR/trace.PID each) until nimbractl
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
        function array(s) { return substr(s, index(s, "[") + 1, index(s, "]") - index(s, "[") - 1) }
        FNR == 1 { pid = FILENAME; sub(/.*\./, "", pid) }
        FILENAME == root && /^(clone3?|v?fork)\(/ && !/CLONE_THREAD/ && / = [0-9]+$/ { child[++n] = $NF }
        FILENAME == root && /nanosleep\(/ {
            split($0, t, /tv_sec=|, tv_nsec=|}/)
            pause[++n] = sprintf("%d.%09d", t[2], t[3])
        }
        FILENAME != root && !(pid in run) && /^execve\(.* = 0$/ {
            file = substr($0, 8, index($0, ",") - 8)
            args = array($0)
            env[pid] = array(substr($0, index($0, "]") + 1))
            sub(/^"[^"]*"(, )?/, "", args)
            run[pid] = words(file (args == "" ? "" : ", " args))
            shell[pid] = file ~ /\\x2f\\x73\\x68"$/
        }
        END {
            for (i = 1; i <= n; i++) {
                if (i in pause) { seconds += pause[i]; continue }
                shells += shell[child[i]]
                programs += (child[i] in run)
                if (!first) first = child[i]
            }
            printf "# processes %d shell %d other %d pause %g\n", n - length(pause), shells, programs - shells, seconds
            print "export " words(env[first]) "; unset LD_LIBRARY_PATH"
            for (i = 1; i <= n; i++)
                if (i in pause) print "read -rt " pause[i] " _ <> <(:)"
                else if (child[i] in run) print run[child[i]]
        }' "$dir"/trace.*
    rm -r "$dir"
}

# The router's configuration: rules, sets, addresses, routes, service tree.
router_config() {
    router-state | sed '/^## processes/,$d'
}

# Warns when a replay leaves another router than the word it replays.
check_replay() {
    local side word
    settle stop
    for side in nimbractl replay; do
        for word in start stop; do
            if [[ $side == nimbractl ]]; then nimbractl "$word"; else bash "$WORK/replay.$word"; fi >/dev/null 2>&1
            awaited "$word"
            router_config >"$WORK/$side.$word.config"
        done
    done
    for word in start stop; do
        diff -u "$WORK/nimbractl.$word.config" "$WORK/replay.$word.config" >&2 ||
            echo "${0##*/}: warning: the replayed $word leaves another router than nimbractl $word" >&2
    done
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
        done
    done
    check_replay
    sed '/^read -rt /d' "$WORK/replay.start" >"$WORK/replay.start-nopause"

    # "# processes N shell S other O ...": own start, own stop, replay start, replay stop
    awk 'FNR == 1 { n[++i] = $3; sh[i] = $5; o[i] = $7 }
        END { printf "| processes spawned by `start` / `stop` | `bench/start_stop.sh` | %d (%d + %d) / %d (%d + %d) | " \
              "its replay: %d / %d | %.2f / %.2f |\n", n[1], sh[1], o[1], n[2], sh[2], o[2], n[3], n[4],
              n[1] / n[3], n[2] / n[4] }' "$WORK"/{own,replay}.{start,stop}
    local -a opts=(--runs "$runs" --warmup 1)
    compare "\`start\`" "its replay" "bash $WORK/replay.start" "nimbractl start" "${opts[@]}" --prepare "$SETTLE stop"
    compare "\`start\` without its 1 s pause" "its replay without it" "bash $WORK/replay.start-nopause" \
        "env LD_PRELOAD=$BUILD/lib/libbench_nosleep.so nimbractl start" "${opts[@]}" --prepare "$SETTLE stop"
    compare "\`stop\`" "its replay" "bash $WORK/replay.stop" "nimbractl stop" "${opts[@]}" --prepare "$SETTLE start"
    context
}

main
