#!/usr/bin/env bash
# How many processes `nimbractl start` (and `stop`) costs, against the
# commands its command protocol needs: on the sandbox router, strace follows
# one run and counts the processes nimbractl starts itself, and all its tree
# starts until nimbractl exits (the daemons runsvdir starts are not counted).
#
#   bench/processes.sh            (as root)
# shellcheck source=SCRIPTDIR/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

if [[ ${SANDBOX_ROUTER:-} != 1 ]]; then
    need_tool strace strace
    enter_sandbox "$BENCH_DIR/processes.sh" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# figure NAME WORD: a figure of `digest counts` for WORD.
figure() {
    awk -v name="$1" '$1 == name { print $2 }' "$work/$2.counts"
}

row() {
    printf '  %-52s %6s %6s\n' "$1" "$(figure "$2" start)" "$(figure "$2" stop)"
}

main() {
    print_context
    # The first start makes certificates and records the MAC address; the
    # counted runs are the ones every later start repeats.
    nimbractl start >"$work/output" 2>&1
    nimbractl stop >>"$work/output" 2>&1
    wait_agent_gone
    local word
    for word in start stop; do
        record "$work/$word.strace" nimbractl "$word"
        digest counts "$work/$word.strace" >"$work/$word.counts"
        rm "$work/$word.strace"
        [[ $word != start ]] || wait_services_run
    done
    local needed
    for word in start stop; do
        needed=$(($(figure direct_shell "$word") + $(figure direct_listing "$word") + $(figure direct_exec "$word")))
        echo "required $needed" >>"$work/$word.counts"
    done

    echo
    printf '  %-52s %6s %6s\n' "" start stop
    row "commands its command protocol needs" required
    row "  shell lines (system)" direct_shell
    row "  listings (popen)" direct_listing
    row "  firewall commands (iptables/ip6tables, no shell)" direct_exec
    row "processes nimbractl starts itself" direct
    row "processes its tree starts until it exits" tree_processes
    row "  programs they execute (successful execve)" tree_execs
    row "  failed execve on the way (PATH search)" failed_execs
    row "runsvdir's daemons started by then (not counted)" runsvdir_children
    local path
    IFS=: read -r -a path <<<"$PATH"
    echo "(failed execve: posix_spawnp tries each entry of PATH in turn; nimbractl's has $((${#path[@]} + 1)))"
}

main
