# Shared by the benchmarks: entering the sandbox router, the measuring tools,
# waiting for the agent, and recording which processes a command starts
# (strace). Times come from bash's EPOCHREALTIME: no process to start.
# shellcheck shell=bash

set -euo pipefail
# EPOCHREALTIME and printf must use '.' as the decimal point.
export LC_ALL=C

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=${BENCH_DIR%/*}
readonly BENCH_DIR REPO

bench_die() {
    echo "${0##*/}: $*" >&2
    exit 1
}

# need_tool CMD PACKAGE: installs PACKAGE when CMD is missing. Only outside
# the sandbox: its /var hides apt's state and it has no network.
need_tool() {
    command -v "$1" >/dev/null && return 0
    [[ ${SANDBOX_ROUTER:-} != 1 ]] || bench_die "$1 is missing; run me from the host, not from inside the sandbox"
    ((EUID == 0)) || bench_die "$1 is missing; run me as root to install $2"
    echo "${0##*/}: installing $2 ..." >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq --no-install-recommends "$2" >/dev/null 2>&1 ||
        { apt-get update -qq && apt-get install -y -qq --no-install-recommends "$2" >/dev/null; } ||
        bench_die "cannot install $2"
}

# enter_sandbox SCRIPT ARGS...: re-runs SCRIPT inside the sandbox router
# (sandbox/run) unless we are already there.
enter_sandbox() {
    [[ ${SANDBOX_ROUTER:-} == 1 ]] && return 0
    ((EUID == 0)) || bench_die "run me as root: the sandbox router needs namespaces"
    [[ -x ${NIMBRA_BIN:-$REPO/build/default/bin/nimbractl} ]] ||
        bench_die "no nimbractl: cmake --preset default && cmake --build --preset default (or set NIMBRA_BIN)"
    exec "$REPO/sandbox/run" "$@"
}

# ms MICROSECONDS: milliseconds with two decimals.
ms() {
    awk -v us="$1" 'BEGIN { printf "%.2f", us / 1000 }'
}

# ratio A B: A / B with two decimals ("-" when B is 0).
ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "-"; else printf "%.2f", a / b }'
}

# mean VALUES...: the integer mean.
mean() {
    local sum=0 value
    for value; do sum=$((sum + value)); done
    echo $((sum / $#))
}

# The agent's daemons and the runit tree they run under.
readonly AGENT_PROCESSES=(runsvdir runsv svlogd stubd dnsmasq openssl)

agent_processes_gone() {
    local name
    for name in "${AGENT_PROCESSES[@]}"; do
        ! pgrep -x "$name" >/dev/null || return 1
    done
}

# Waits (at most 10 s) until stop's SIGHUP has taken every daemon down. What
# is left then is reported and ended (by pid, in the sandbox), so that the
# next run starts from the same router.
wait_agent_gone() {
    local _ name pid
    for _ in {1..200}; do
        agent_processes_gone && return 0
        sleep 0.05
    done
    echo "${0##*/}: warning: still running 10 s after stop, ended now:" >&2
    for name in "${AGENT_PROCESSES[@]}"; do
        # With their children: a daemon's sleep would outlive it.
        for pid in $(pgrep -x "$name"); do
            ps -o pid=,ppid=,etime=,args= -p "$pid" >&2 || true
            kill "$pid" $(pgrep -P "$pid") 2>/dev/null || true
        done
    done
    sleep 0.5
}

# record LOG CMD...: runs CMD under strace, following every process it
# starts, until CMD itself has exited; what it leaves running in the
# background (runsvdir, scripts) is then let go, not waited for. Strings come
# out hex-escaped (-xx), so they never hold quotes, commas or brackets.
record() {
    local log=$1
    shift
    strace -f -q -xx -v -s 65536 -e signal=none \
        -e trace=execve,clone,clone3,fork,vfork,pipe,pipe2,clock_nanosleep,nanosleep \
        -o "$log" -- "$@" >/dev/null 2>&1 &
    local tracer=$! root=''
    until [[ -n $root ]] && grep -Eq "^$root +\+\+\+ (exited|killed)" "$log"; do
        sleep 0.05
        [[ -s $log ]] && root=$(awk '{ print $1; exit }' "$log")
        kill -0 "$tracer" 2>/dev/null || break
    done
    # SIGKILL: on SIGTERM strace may keep waiting for the daemons. The kernel
    # then lets every tracee go on untraced.
    kill -KILL "$tracer" 2>/dev/null || true
    wait "$tracer" 2>/dev/null || true
}

# digest MODE LOG: reads a log of `record`.
#   MODE plan:   what the recorded process did itself, in order, one line each:
#                "sh HEX" (system), "list HEX" (popen), "exec HEX..." (argv of
#                a program it started without a shell), "fork" (no exec),
#                "pause SECONDS" (sleep), then "env HEX..." (the environment
#                its children got). HEX is strace's \xHH text of one string.
#   MODE counts: "name value" lines (see the awk below for the names).
digest() {
    awk -v mode="$1" -v HEX=0123456789abcdef '
    # Printable text only: enough to tell programs and options apart.
    function unhex(s,   out, i, n, parts) {
        n = split(s, parts, /\\x/)
        out = ""
        for (i = 2; i <= n; i++)
            out = out sprintf("%c", 16 * index(HEX, substr(parts[i], 1, 1)) + index(HEX, substr(parts[i], 2, 1)) - 17)
        return out
    }
    # The quoted strings of the first [...] at or after position from, as
    # space-separated hex; sets arr_end to the position after the "]".
    function strings(s, from,   first, last, body) {
        first = index(substr(s, from), "[")
        if (!first) { arr_end = from; return "" }
        first += from - 1
        last = index(substr(s, first), "]") + first - 1
        body = substr(s, first + 1, last - first - 1)
        gsub(/"/, "", body)
        gsub(/, /, " ", body)
        arr_end = last + 1
        return body
    }
    function word(list, i,   parts) {
        split(list, parts, " ")
        return parts[i]
    }
    function under_runsvdir(pid,   p) {
        for (p = parent[pid]; p != ""; p = parent[p])
            if (unhex(word(argv[p], 1)) ~ /(^|\/)runsvdir$/) return 1
        return 0
    }
    {
        if (!match($0, /^[0-9]+ +/)) next
        pid = $1
        rest = substr($0, RLENGTH + 1)
        if (rest ~ / <unfinished \.\.\.>$/) {
            sub(/ <unfinished \.\.\.>$/, "", rest)
            pending[pid] = rest
            next
        }
        if (sub(/^<\.\.\. [a-z0-9_]+ resumed>/, "", rest)) {
            rest = pending[pid] rest
            delete pending[pid]
        }
        pos++
        if (root == "") root = pid
        if (rest ~ /^\+\+\+ (exited|killed)/) {
            if (pid == root && !root_end) root_end = pos
            next
        }
        if (rest ~ /^(clone3?|v?fork)\(/) {
            if (rest ~ /CLONE_THREAD/ || !match(rest, /= [0-9]+$/)) next
            child = substr(rest, RSTART + 2)
            parent[child] = pid
            born[child] = pos
            if (pid == root) {
                events[++nevents] = "spawn " child
                by_popen[child] = pipe_open
                pipe_open = 0
            }
            next
        }
        if (pid == root && rest ~ /^pipe2?\(/) { pipe_open = 1; next }
        if (pid == root && rest ~ /^(clock_)?nanosleep\(/) {
            match(rest, /tv_sec=[0-9]+/)
            sec = substr(rest, RSTART + 7, RLENGTH - 7)
            match(rest, /tv_nsec=[0-9]+/)
            nsec = substr(rest, RSTART + 8, RLENGTH - 8)
            events[++nevents] = sprintf("pause %d.%09d", sec, nsec)
            next
        }
        if (rest ~ /^execve\(/) {
            if (rest !~ /= 0$/) { if (!root_end) failed_pid[++nfailed] = pid; next }
            if (!root_end) { exec_pos[++nexecs] = pid }
            if (!(pid in argv)) {
                argv[pid] = strings(rest, 1)
                env[pid] = strings(rest, arr_end)
            }
        }
    }
    END {
        for (i = 1; i <= nevents; i++) {
            split(events[i], e, " ")
            if (e[1] == "pause") { pauses += e[2]; if (mode == "plan") print events[i]; continue }
            c = e[2]
            kind = "fork"
            if (c in argv) {
                kind = "exec"
                if (unhex(word(argv[c], 1)) == "sh" && unhex(word(argv[c], 2)) == "-c")
                    kind = by_popen[c] ? "list" : "sh"
                if (envc == "") envc = env[c]
            }
            count[kind]++
            if (mode != "plan") continue
            if (kind == "sh" || kind == "list") print kind, word(argv[c], 3)
            else if (kind == "exec") print kind, argv[c]
            else print kind
        }
        if (mode == "plan") { print "env", envc; exit }
        for (c in born)
            if (born[c] < root_end) {
                if (under_runsvdir(c)) daemons++
                else procs++
            }
        for (i = 1; i <= nexecs; i++)
            if (exec_pos[i] != root && !under_runsvdir(exec_pos[i])) execs++
        for (i = 1; i <= nfailed; i++)
            if (!under_runsvdir(failed_pid[i])) failed_execs++
        printf "direct_shell %d\ndirect_listing %d\ndirect_exec %d\ndirect_fork %d\n",
            count["sh"], count["list"], count["exec"], count["fork"]
        printf "direct %d\n", count["sh"] + count["list"] + count["exec"] + count["fork"]
        printf "tree_processes %d\ntree_execs %d\nfailed_execs %d\nrunsvdir_children %d\npause %s\n",
            procs, execs, failed_execs, daemons, pauses + 0
    }' "$2"
}

# unhex HEX: the text of one hex string of `digest`, into REPLY.
unhex() {
    printf -v REPLY '%b' "$1"
}

# c_baseline DIR: builds a C program that prints one line (the floor any
# short-lived program pays: exec, dynamic loading, exit) into DIR; its path
# in REPLY.
c_baseline() {
    printf '#include <stdio.h>\nint main(){puts("{}");return 0;}\n' >"$1/one_line.c"
    cc -O2 -o "$1/one_line" "$1/one_line.c"
    REPLY=$1/one_line
}

# Waits (at most 20 s) until runit reports all ten agent services running,
# so that status reads the files they write.
wait_services_run() {
    local sv=/var/nimbra/agent/shares/usr/bin/sv _
    for _ in {1..100}; do
        (($("$sv" status /var/service/* 2>/dev/null | grep -c '^run: ') == 10)) && return 0
        sleep 0.2
    done
    echo "${0##*/}: warning: not all agent services run" >&2
}

# The machine, so that figures can be told apart by where they came from.
print_context() {
    local load
    read -r load _ </proc/loadavg
    printf '%s, %s, %d cores, load %s, nimbractl %s\n' "$(date '+%Y-%m-%d %H:%M')" \
        "$(uname -r)" "$(nproc)" "$load" "$(readlink -f "$(command -v nimbractl)")"
}
