#!/usr/bin/env bash
# nimbractl's own overhead on `start` and `stop`. In the sandbox router it
# records (strace) the commands each one runs, then times CYCLES cycles of
# `nimbractl start` + `nimbractl stop` against a replay of those commands:
# each shell line through /bin/sh -c (a listing's output read and thrown
# away), each firewall command by running iptables/ip6tables directly, with
# start's one-second pause at the same place, in the environment nimbractl
# gives its children. stop runs once the services are up; every cycle ends
# with a router as clean as before. Last, nimbractl's own CPU time against
# its children's.
#
#   bench/start_stop.sh [CYCLES]      (as root; default 5 cycles)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

cycles=${1:-5}
[[ $cycles =~ ^[1-9][0-9]*$ ]] || bench_die "usage: bench/start_stop.sh [CYCLES]"
if [[ ${SANDBOX_ROUTER:-} != 1 ]]; then
    need_tool strace strace
    enter_sandbox "$BENCH_DIR/start_stop.sh" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Files, not pipes, for every output: start leaves background programs
# holding its standard output.
readonly LOG=$work/output
readonly KINDS=(sh list exec pause)
# A pipe that nobody writes: read -t on it waits without starting a process.
exec {nap}<> <(:)

# The router's configuration: rules, sets, addresses, routes, /var/service.
# stop leaves the agent's chains in place, empty.
router_config() {
    router-state | sed '/^## processes/,$d' | grep -v '^-N '
}

# The same and the long-running processes, once stop's signals have landed.
# Not the demo daemons' sleeps: they outlive their daemon by up to 30 s.
router_clean_state() {
    wait_agent_gone
    router-state | grep -Ev '^-N |^ +[0-9]+ sleep$'
}

# replay_script PLAN: a bash script that runs PLAN's commands the plainest
# way. It writes "total sh list exec pause", the µs spent in all and in each
# kind of command, to the file its argument names.
# shellcheck disable=SC2016  # the $ belong to the script written
replay_script() {
    local kind rest word
    cat <<'EOF'
exec {nap}<> <(:)
declare -A spent=([sh]=0 [list]=0 [exec]=0 [pause]=0)
# timed KIND CMD...: runs CMD, adding its wall time to spent[KIND].
timed() {
    local c0=$EPOCHREALTIME
    "${@:2}"
    local c1=$EPOCHREALTIME
    spent[$1]=$((spent[$1] + 10#${c1/./} - 10#${c0/./}))
}
listing() { _=$(/bin/sh -c "$1"); }
pause() { read -rt "$1" -u "$nap" _; }
t0=$EPOCHREALTIME
EOF
    while read -r kind rest; do
        case $kind in
        sh) unhex "$rest" && printf 'timed sh /bin/sh -c %q\n' "$REPLY" ;;
        list) unhex "$rest" && printf 'timed list listing %q\n' "$REPLY" ;;
        exec)
            printf 'timed exec'
            for word in $rest; do unhex "$word" && printf ' %q' "$REPLY"; done
            echo
            ;;
        pause) echo "timed pause pause $rest" ;;
        fork) echo "${0##*/}: warning: a process that ran no program is not replayed" >&2 ;;
        esac
    done <"$1"
    cat <<'EOF'
t1=$EPOCHREALTIME
echo "$((10#${t1/./} - 10#${t0/./})) ${spent[sh]} ${spent[list]} ${spent[exec]} ${spent[pause]}" >"$1"
EOF
}

# env_of PLAN: the environment nimbractl gave its children, into replay_env.
env_of() {
    local words word
    read -r -a words < <(sed -n 's/^env //p' "$1")
    replay_env=()
    for word in "${words[@]}"; do
        unhex "$word"
        replay_env+=("$REPLY")
    done
}

# time_nimbractl WORD: runs `nimbractl WORD`; its wall time in µs in REPLY.
time_nimbractl() {
    local t0=$EPOCHREALTIME
    nimbractl "$1" >>"$LOG" 2>&1
    local t1=$EPOCHREALTIME
    REPLY=$((10#${t1/./} - 10#${t0/./}))
}

# time_replay WORD: runs the replay of `nimbractl WORD`; its wall time in µs
# in REPLY, the time spent in each kind of command in SPENT (as KINDS).
time_replay() {
    env -i "${replay_env[@]}" bash "$work/$1.replay" "$work/$1.time" >>"$LOG" 2>&1
    read -r -a SPENT <"$work/$1.time"
    REPLY=${SPENT[0]}
    SPENT=("${SPENT[@]:1}")
}

# own_cpu WORD: runs `nimbractl WORD`, reading its /proc files every 2 ms
# until it is gone; its own CPU time (µs, schedstat) in REPLY, the CPU time
# of the children it has waited for (stat, 10 ms ticks) in KIDS. Both miss
# at most the last 2 ms: bash reaps the process before a last look.
own_cpu() {
    nimbractl "$1" >>"$LOG" 2>&1 &
    local pid=$! ticks_us=$((1000000 / $(getconf CLK_TCK))) cpu stat
    REPLY=0 KIDS=0
    while read -r cpu _ <"/proc/$pid/schedstat" && read -r -a stat <"/proc/$pid/stat"; do
        REPLY=$((cpu / 1000)) KIDS=$(((stat[15] + stat[16]) * ticks_us))
        read -rt 0.002 -u "$nap" _ || true
    done 2>/dev/null
    wait "$pid" || true
}

# check_clean WHAT: warns when the router is not as it was after warm-up.
check_clean() {
    router_clean_state >"$work/state.now"
    if ! diff -q "$work/state.clean" "$work/state.now" >/dev/null; then
        echo "warning: router not clean after $1:" >&2
        diff "$work/state.clean" "$work/state.now" | head -20 >&2 || true
    fi
}

count() {
    grep -c "^$1 " "$2" || true
}

# pause_us PLAN: how long the recorded command slept, in µs.
pause_us() {
    awk '$1 == "pause" { s += $2 } END { printf "%d", s * 1000000 }' "$1"
}

# row LABEL NIMBRACTL_US REPLAY_US
row() {
    printf '  %-28s %10s ms %10s ms   %s\n' "$1" "$(ms "$2")" "$(ms "$3")" "$(ratio "$2" "$3")"
}

main() {
    print_context
    echo "Warm-up: one start and stop (certificates, MAC file) ..."
    nimbractl start >>"$LOG" 2>&1
    nimbractl stop >>"$LOG" 2>&1
    router_clean_state >"$work/state.clean"

    echo "Recording the commands of one start and one stop (strace) ..."
    local word
    for word in start stop; do
        record "$work/$word.strace" nimbractl "$word"
        digest plan "$work/$word.strace" >"$work/$word.plan"
        replay_script "$work/$word.plan" >"$work/$word.replay"
        rm "$work/$word.strace"
        [[ $word != start ]] || wait_services_run
    done
    check_clean "the recorded stop"
    env_of "$work/start.plan"

    local -a n_start=() n_stop=() r_start=() r_stop=() SPENT=()
    local -A spent_start=() spent_stop=()
    local cycle config_after_start i
    for ((cycle = 1; cycle <= cycles; cycle++)); do
        # stop finds the services up, not racing it to start.
        time_nimbractl start && n_start+=("$REPLY")
        wait_services_run
        ((cycle > 1)) || config_after_start=$(router_config)
        time_nimbractl stop && n_stop+=("$REPLY")
        check_clean "nimbractl stop"
        time_replay start && r_start+=("$REPLY")
        for i in "${!KINDS[@]}"; do spent_start[$i]=$((${spent_start[$i]:-0} + SPENT[i])); done
        wait_services_run
        if ((cycle == 1)) && [[ $(router_config) != "$config_after_start" ]]; then
            echo "warning: the replayed start leaves another configuration than nimbractl start" >&2
        fi
        time_replay stop && r_stop+=("$REPLY")
        for i in "${!KINDS[@]}"; do spent_stop[$i]=$((${spent_stop[$i]:-0} + SPENT[i])); done
        check_clean "replayed stop"
        printf 'cycle %d: start %s / %s ms, stop %s / %s ms (nimbractl / replay)\n' "$cycle" \
            "$(ms "${n_start[-1]}")" "$(ms "${r_start[-1]}")" "$(ms "${n_stop[-1]}")" "$(ms "${r_stop[-1]}")"
    done

    local -a own=() kids=()
    echo "nimbractl's own CPU time: $cycles more cycles, its /proc files read every 2 ms ..."
    for ((cycle = 1; cycle <= cycles; cycle++)); do
        own_cpu start && own+=("start $REPLY") && kids+=("start $KIDS")
        wait_services_run
        own_cpu stop && own+=("stop $REPLY") && kids+=("stop $KIDS")
        wait_agent_gone
    done

    echo
    echo "What they run (recorded): shell lines (system), listings (popen), firewall commands (iptables/ip6tables)"
    for word in start stop; do
        printf '  %-5s %3d shell lines, %3d listings, %3d firewall commands, %s s pause\n' "$word" \
            "$(count sh "$work/$word.plan")" "$(count list "$work/$word.plan")" \
            "$(count exec "$work/$word.plan")" "$(awk -v us="$(pause_us "$work/$word.plan")" 'BEGIN { print us / 1e6 }')"
    done
    local ns rs nst rst pause rpause
    ns=$(mean "${n_start[@]}") rs=$(mean "${r_start[@]}")
    nst=$(mean "${n_stop[@]}") rst=$(mean "${r_stop[@]}")
    pause=$(pause_us "$work/start.plan") rpause=$((spent_start[3] / cycles))
    echo "The replay pauses where start sleeps (before runsvdir), for as long. 'without the pause':"
    echo "start's wall time less its sleep, the replay's less its measured pause ($(ms "$rpause") ms)."
    echo
    printf '  %-28s %13s %13s   %s\n' "mean of $cycles cycles" nimbractl replay nimbractl/replay
    row start "$ns" "$rs"
    row "start without the pause" $((ns - pause)) $((rs - rpause))
    row stop "$nst" "$rst"
    echo "  (target: nimbractl/replay <= 1.10)"
    echo
    echo "Where the replay's time goes (mean ms): shell lines, listings, firewall commands, pause"
    printf '  start %8s %8s %8s %8s\n' "$(ms $((spent_start[0] / cycles)))" "$(ms $((spent_start[1] / cycles)))" \
        "$(ms $((spent_start[2] / cycles)))" "$(ms $((spent_start[3] / cycles)))"
    printf '  stop  %8s %8s %8s %8s\n' "$(ms $((spent_stop[0] / cycles)))" "$(ms $((spent_stop[1] / cycles)))" \
        "$(ms $((spent_stop[2] / cycles)))" "$(ms $((spent_stop[3] / cycles)))"
    echo
    echo "CPU time (mean ms)        nimbractl itself   the children it waited for"
    for word in start stop; do
        printf '  %-22s %12s %20s\n' "$word" \
            "$(printf '%s\n' "${own[@]}" | awk -v w="$word" '$1 == w { s += $2; n++ } END { printf "%.2f", s / n / 1000 }')" \
            "$(printf '%s\n' "${kids[@]}" | awk -v w="$word" '$1 == w { s += $2; n++ } END { printf "%.0f", s / n / 1000 }')"
    done
}

main
