#!/usr/bin/env bash
# Injected faults (docs/faults.md keeps the same table): a missing tool, a
# failing firewall command, a read-only or full ram directory, a broken
# agent install, an unreadable or changing configuration, an interface that
# vanishes during start. Each command must end within 60 s with its
# documented status and a stderr line naming what failed; after the fault is
# undone, `stop` brings the router back and nothing else was lost.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

readonly FARM=$WORK/bin HELD=$WORK/held DUMMY=dum0
mkdir -p "$FARM" "$HELD"

# Every program on PATH as one link in FARM, earlier directories winning, so
# that a row can take one away from both the shell and the vendor library.
IFS=: read -r -a path_dirs <<<"$PATH"
for ((i = ${#path_dirs[@]} - 1; i >= 0; i--)); do
    [[ -d ${path_dirs[i]} ]] && ln -sf "${path_dirs[i]}"/* "$FARM/" 2>/dev/null
done

# ---------------------------------------------------------------- injections
# Each sets up one fault; undo_all takes every kind back.
ROW_PATH=$PATH

hide() {  # hide TOOL...: gone from the PATH nimbractl and the vendor library use
    local tool
    for tool; do mv "$FARM/$tool" "$FARM/.held-$tool"; done
    ROW_PATH=$FARM
}

# stub TOOL BODY: TOOL becomes a script; "$real" in BODY runs the original.
stub() {
    mv "$FARM/$1" "$FARM/.held-$1"
    printf '#!/bin/sh\nreal=%q\n%s\n' "$FARM/.held-$1" "$2" >"$FARM/$1"
    chmod +x "$FARM/$1"
    ROW_PATH=$FARM
}

# Listings pass, every change fails the way iptables reports a refusal.
failing_iptables() {
    # shellcheck disable=SC2016  # expanded by the stub
    stub iptables 'case " $* " in *" -S "*) exec "$real" "$@" ;; esac
echo "iptables: Operation not permitted (injected)." >&2; exit 1'
}

# The running daemons write there now and then: a remount that meets one of
# their writes is refused, so it is tried again.
ro_ram() {
    mkdir -p "$RAM_DIR"
    mount --bind "$RAM_DIR" "$RAM_DIR"
    wait_until 10 mount -o remount,bind,ro "$RAM_DIR" 2>/dev/null
}

# A tiny ram disk with neither a free block nor a free inode left.
full_ram() {
    mkdir -p "$RAM_DIR"
    mount -t tmpfs -o size=8k,nr_inodes=8 faults-full "$RAM_DIR"
    local n=0
    while touch "$RAM_DIR/inode$n" 2>/dev/null; do n=$((n + 1)); done
    dd if=/dev/zero of="$RAM_DIR/inode0" bs=4k 2>/dev/null || true
}

hold() {  # hold PATH: the agent file is taken away (and put back by undo_all)
    mv "$1" "$HELD/$(basename "$1")"
    HELD_FROM+=("$1")
}
HELD_FROM=()

config_is() {  # config_is directory|fifo|empty|missing
    cp "$NIMBRA_CONFIG" "$WORK/saved.ini"
    rm -f "$NIMBRA_CONFIG"
    case $1 in
    directory) mkdir "$NIMBRA_CONFIG" ;;
    fifo) mkfifo "$NIMBRA_CONFIG" ;;
    empty) : >"$NIMBRA_CONFIG" ;;
    missing) ;;
    esac
}

# vanish_on TOOL: the interface (the agent's only one) disappears when start
# first runs TOOL.
vanish_on() {
    cp "$NIMBRA_CONFIG" "$WORK/saved.ini"
    ip link add "$DUMMY" type veth peer name "${DUMMY}p"
    ip addr add 192.168.77.1/24 dev "$DUMMY"
    ip link set "$DUMMY" up
    nimbra-ini set network.ifnames "$DUMMY"
    rm -f "$RAM_DIR/MAC"
    stub "$1" "ip link del $DUMMY 2>/dev/null; exec \"\$real\" \"\$@\""
}

undo_all() {
    local held i
    for held in "$FARM"/.held-*; do
        [[ -e $held || -L $held ]] && mv -f "$held" "$FARM/${held##*/.held-}"
    done
    ROW_PATH=$PATH
    mountpoint -q "$RAM_DIR" && umount -l "$RAM_DIR"
    for ((i = 0; i < ${#HELD_FROM[@]}; i++)); do
        mv "$HELD/$(basename "${HELD_FROM[i]}")" "${HELD_FROM[i]}"
    done
    HELD_FROM=()
    if [[ -f $WORK/saved.ini ]]; then
        rm -rf "$NIMBRA_CONFIG"
        mv "$WORK/saved.ini" "$NIMBRA_CONFIG"
    fi
    ip link del "$DUMMY" 2>/dev/null || true
}

# ---------------------------------------------------------------- commands

# faulty ARGS...: nimbractl under the row's PATH, bounded in time.
faulty() {
    STATUS=0
    PATH=$ROW_PATH timeout 60 nimbractl "$@" >"$WORK/out" 2>"$WORK/err" || STATUS=$?
}

# status -j and start, over and over, while the configuration file is
# replaced (atomically, as an editor or an update does) by copies of itself
# of other sizes: every run must read a whole file each time it loads one.
during_swaps() {
    local variant worst=0 runs=0 json_bad=0
    for variant in 1 2; do
        { cat "$NIMBRA_CONFIG"; head -c $((variant * 3000)) /dev/zero | tr '\0' ';'; echo; } \
            >"$WORK/variant$variant.ini"
    done
    cp "$NIMBRA_CONFIG" "$WORK/saved.ini"
    (
        while :; do
            for variant in 1 2; do
                cp "$WORK/variant$variant.ini" "$NIMBRA_CONFIG.new"
                mv -f "$NIMBRA_CONFIG.new" "$NIMBRA_CONFIG"
            done
        done
    ) &
    local swapper=$!
    : >"$WORK/err.all"
    for _ in {1..2}; do
        for _ in {1..10}; do
            timeout 60 nimbractl status -j >"$WORK/out" 2>"$WORK/err" || worst=$?
            jq -e . "$WORK/out" >/dev/null 2>&1 || json_bad=$((json_bad + 1))
            cat "$WORK/err" >>"$WORK/err.all"
            runs=$((runs + 1))
        done
        timeout 60 nimbractl start >"$WORK/out" 2>"$WORK/err" || worst=$?
        grep -q "Nimbra successfully started." "$WORK/out" || worst=99
        cat "$WORK/err" >>"$WORK/err.all"
        timeout 60 nimbractl stop >/dev/null 2>>"$WORK/err.all" || worst=$?
    done
    kill "$swapper"
    wait "$swapper" 2>/dev/null || true
    rm -f "$NIMBRA_CONFIG.new"
    STATUS=$worst
    # What the runs said that they should not have.
    grep -v "Chain already exists" "$WORK/err.all" >"$WORK/err" || true
    ((json_bad == 0)) || echo "$json_bad of $runs status -j outputs were not JSON" >>"$WORK/err"
}

# ---------------------------------------------------------------- outcomes

started() { test -e "$STATUS_DIR/nimbra_running" && test -d /var/service; }
refused() { ! test -e "$STATUS_DIR/nimbra_running" && ! test -e "$STATUS_DIR/nimbra_starting" &&
    ! test -e /var/service; }
failed_cleanly() { ! test -e "$STATUS_DIR/nimbra_running" && ! test -e "$STATUS_DIR/nimbra_starting"; }
stopped() { ! test -e "$STATUS_DIR/nimbra_running" && ! test -e /var/service; }
json() { jq -e . "$WORK/out" >/dev/null 2>&1; }
quiet() { ! test -s "$WORK/err"; }
running_kept() { test -e "$STATUS_DIR/nimbra_running"; }

# The agent's install, data and configuration, by content.
protected_digest() {
    find "$ROOT_DIR" "$DATA_DIR" "$NIMBRA_CONFIG" -printf '%p %y %l\n' | sort
    find "$ROOT_DIR" "$DATA_DIR" "$NIMBRA_CONFIG" -type f -print0 | sort -z | xargs -0 md5sum
}

# ---------------------------------------------------------------- the table
# name | before (running/stopped) | injection | command | status | stderr needle | after (a check)
rows=(
    "iptables missing|stopped|hide iptables|start|0|iptables: not found|started"
    "ip6tables missing|stopped|hide ip6tables|start|0|ip6tables: not found|started"
    "ipset missing|stopped|hide ipset|start|0|ipset: not found|started"
    "ip missing|stopped|hide ip|start|0|ip: not found|started"
    "ifconfig missing|stopped|hide ifconfig|start|0|ifconfig: not found|started"
    "iptables missing at stop|running|hide iptables|stop|0|iptables: not found|stopped"
    "firewall command fails|stopped|failing_iptables|start|0|Operation not permitted (injected)|started"
    "read-only ram directory|stopped|ro_ram|start|0|Can't create $STATUS_DIR//nimbra_starting: |refused"
    "read-only ram directory, status|running|ro_ram|status -j|0|open: Read-only file system|json"
    "read-only ram directory at stop|running|ro_ram|stop|0|nimbra_running: Read-only file system|running_kept"
    "full ram directory|stopped|full_ram|start|0|No space left on device|refused"
    "full ram directory, status|stopped|full_ram|status -j|0|open: No space left on device|json"
    "busybox missing|stopped|hold $ROOT_DIR/busybox|start|0|Can't run $ROOT_DIR/runsvdir: No such file or directory|started"
    "service template missing|stopped|hold $ROOT_DIR/service|start|0|service': No such file or directory|started"
    "scripts missing|stopped|hold $ROOT_DIR/scripts|start|0|check_nimbradb.sh: not found|started"
    "configuration is a directory|stopped|config_is directory|start|1|Failed while loading file '$NIMBRA_CONFIG'|refused"
    "configuration is a FIFO|running|config_is fifo|status|1|Failed while loading file '$NIMBRA_CONFIG'|running_kept"
    "configuration empty|stopped|config_is empty|start|1|Failed while loading file '$NIMBRA_CONFIG'|refused"
    "configuration missing|running|config_is missing|stop|1|File '$NIMBRA_CONFIG' does not exist|running_kept"
    "configuration replaced between reads|stopped|:|during_swaps|0||quiet"
    "interface vanishes before its set-up|stopped|vanish_on ifconfig|start|0|Failed to get MAC for interface $DUMMY|failed_cleanly"
    "interface vanishes before the firewall|stopped|vanish_on ipset|start|0|Failed retrieving router's IPv6 address: No such device|started"
)

# Baseline: after one start and stop, so that what a first start makes
# once (certificates, applet links) is already in place.
nimbra start
nimbra stop
wait_until 20 agent_processes_gone
snapshot >"$WORK/baseline"
protected_digest >"$WORK/protected"

for row in "${rows[@]}"; do
    IFS='|' read -r name before inject command status needle after <<<"$row"
    [[ $before == running ]] && nimbra start
    read -r -a inject_words <<<"$inject"
    "${inject_words[@]}"
    read -r -a command_words <<<"$command"
    if [[ $command == during_swaps ]]; then during_swaps; else faulty "${command_words[@]}"; fi
    expect_eq "$name: $command exits $status" "$status" "$STATUS"
    # Background scripts of start may say theirs a moment later.
    if [[ -n $needle ]]; then
        if wait_until 5 grep -qF -- "$needle" "$WORK/err"; then
            pass "$name: says so"
        else
            fail "$name: says so" "missing: $needle" "stderr: $(head -c 1500 "$WORK/err")"
        fi
    fi
    expect_true "$name: $after" "$after"
    undo_all
    nimbra stop
    expect_same_state "$name: stop brings the router back" "$WORK/baseline"
    expect_eq "$name: install, data and configuration intact" "$(cat "$WORK/protected")" "$(protected_digest)"
done

finish
