#!/usr/bin/env bash
# Injected faults, the rows of docs/faults.md: each command ends with its
# status and a stderr line naming what failed; once the fault is undone,
# stop restores the router, and the install, data and configuration are unchanged.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

readonly FARM=$WORK/bin HELD=$WORK/held DUMMY=dum0
mkdir -p "$FARM" "$HELD" && cp "$NIMBRA_CONFIG" "$WORK/config.ini"
# The router's PATH as links in one directory, so that a row can take a tool away.
IFS=: read -r -a path_dirs <<<"$ROUTER_PATH"
for ((i = ${#path_dirs[@]} - 1; i >= 0; i--)); do
    [[ -d ${path_dirs[i]} ]] && ln -sf "${path_dirs[i]}"/* "$FARM/" 2>/dev/null
done

# hold PATH|TOOL...: taken away until the row ends (a tool: from the PATH).
held=()
hold() {
    local path
    for path; do
        [[ $path == /* ]] || { path=$FARM/$path && ROW_ENV=(PATH="$FARM" ROUTER_PATH="$FARM"); }
        mv "$path" "$HELD/${#held[@]}" && held+=("$path")
    done
}
# stub TOOL BODY: TOOL becomes a script; "$real" in BODY runs the original.
stub() {
    hold "$1"
    printf '#!/bin/sh\nreal=%q\n%s\n' "$HELD/$((${#held[@]} - 1))" "$2" >"$FARM/$1"
    chmod +x "$FARM/$1"
}
failing_iptables() {
    # shellcheck disable=SC2016  # expanded by the stub
    stub iptables 'case " $* " in *" -S "*) exec "$real" "$@" ;; esac
echo "iptables: Operation not permitted (injected)." >&2; exit 1'
}
# shellcheck disable=SC2016  # expanded by the stub
refusing_restore() { stub ipset '[ "$1" != -exist ] || exit 1
exec "$real" "$@"'; }
agent_up() { nimbractl start >/dev/null 2>&1; }
# The reference library without its batch entry point.
LITERAL=$(dirname "$(realpath "$NIMBRA_BIN")")/../lib/literal
one_by_one() { ROW_ENV+=(LD_LIBRARY_PATH="$LITERAL"); }
# A remount that meets a daemon's write is refused: tried again.
ro_ram() {
    mkdir -p "$RAM_DIR" && mount --bind "$RAM_DIR" "$RAM_DIR"
    wait_until 10 mount -o remount,bind,ro "$RAM_DIR" 2>/dev/null
}
# A tiny ram disk with neither a free block nor a free inode left.
full_ram() {
    mkdir -p "$RAM_DIR" && mount -t tmpfs -o size=8k,nr_inodes=8 faults-full "$RAM_DIR"
    local n=0
    while touch "$RAM_DIR/inode$n" 2>/dev/null; do n=$((n + 1)); done
    dd if=/dev/zero of="$RAM_DIR/inode0" bs=4k 2>/dev/null || true
}
# An interface of the test's own, up, without an address (after_row removes it).
add_dummy() { ip link add "$DUMMY" type veth peer name "${DUMMY}p" && ip link set "$DUMMY" up; }
# vanish_on TOOL: the agent's only interface disappears when start first runs TOOL.
vanish_on() {
    add_dummy && ip addr add 192.168.77.1/24 dev "$DUMMY"
    nimbra-ini set network.ifnames "$DUMMY" && rm -f "$RAM_DIR/MAC"
    stub "$1" "ip link del $DUMMY 2>/dev/null; exec \"\$real\" \"\$@\""
}
without_ipv4() { add_dummy && nimbra-ini set network.ifnames "br0 $DUMMY"; }
nat_rules_of() { iptables -w -t nat -S NIMBRA_NAT | grep -c -- "-i $DUMMY -p $1"; }
started() { test -e "$STATUS_DIR/nimbra_running" && test -d /var/service; }
# The filter that a refused batch applied one change at a time.
landed() { [[ $(iptables -w -S; ip6tables -w -S) == *"-A FORWARD -j NIMBRA_FILTERS"*"-A FORWARD -j NIMBRA_FILTERS"* ]] && iptables -w -t nat -S NIMBRA_NAT | grep -q -- '-j DNAT'; }
refused() { ! test -e "$STATUS_DIR/nimbra_running" && ! test -e "$STATUS_DIR/nimbra_starting" && ! test -e /var/service; }
protected() { find "$ROOT_DIR" "$DATA_DIR" "$NIMBRA_CONFIG" -printf '%p %y %l\n' -type f -exec md5sum {} + | sort; }

after_row() {
    local i
    for i in "${!held[@]}"; do rm -rf "${held[i]}" && mv "$HELD/$i" "${held[i]}"; done
    held=()
    ! mountpoint -q "$RAM_DIR" || umount -l "$RAM_DIR"
    rm -rf "$NIMBRA_CONFIG" && cp "$WORK/config.ini" "$NIMBRA_CONFIG"
    ip link del "$DUMMY" 2>/dev/null || true
    nimbractl stop >/dev/null 2>&1
    agent_processes_end && same_state "$WORK/baseline" && diff "$WORK/protected" <(protected)
}

readonly CONFIG_FAILS="^tkvs_init: Failed while loading file '$NIMBRA_CONFIG'$"
# Baseline after a start and stop: what a first start makes once is in place.
# shellcheck disable=SC2016  # the rows' shell code expands when it runs
run_rows \
    "baseline | agent_up | nimbractl stop | 0 | ^Nimbra stopped\.$ | agent_processes_end && settle $WORK/baseline && protected >$WORK/protected" \
    'iptables missing | hold iptables && one_by_one | nimbractl start | 0 | iptables: not found | started' \
    'ip6tables missing | hold ip6tables && one_by_one | nimbractl start | 0 | ip6tables: not found | started' \
    'iptables-restore missing: the batch falls back | hold iptables-restore | nimbractl start | 0 | ^The iptables batch was refused; applying its changes one at a time$ | started && landed' \
    'ipset missing | hold ipset | nimbractl start | 0 | ipset: not found | started' \
    'ipset restore refused | refusing_restore | nimbractl start | 0 | ^ipset restore failed; running its commands one at a time$ | started && mapfile -t sets < <(ipset list -n) && ((${#sets[@]} == 13))' \
    'ip missing | hold ip | nimbractl start | 0 | ip: not found | started' \
    'ifconfig missing | hold ifconfig | nimbractl start | 0 | ifconfig: not found | started' \
    'iptables missing at stop | agent_up && hold iptables && one_by_one | nimbractl stop | 0 | iptables: not found | ! test -e $STATUS_DIR/nimbra_running && ! test -e /var/service' \
    'firewall command fails | failing_iptables && one_by_one | nimbractl start | 0 | Operation not permitted \(injected\) | started' \
    "read-only ram directory, no lock file yet | rm -f $RAM_DIR/nimbra_lifecycle.lock && ro_ram | nimbractl start | 0 | ^Can't create $STATUS_DIR/+nimbra_starting:  | refused && says 'nimbra_lifecycle.lock, going on without it: Read-only file system$'" \
    'read-only ram directory, status | agent_up && ro_ram | nimbractl status -j | 0 | open: Read-only file system | json .' \
    "read-only ram directory at stop | agent_up && ro_ram | nimbractl stop | 0 | ^Can't remove $STATUS_DIR/+nimbra_running: Read-only file system$ | test -e $STATUS_DIR/nimbra_running" \
    "full ram directory | full_ram | nimbractl start | 0 | ^Can't create $STATUS_DIR/+nimbra_starting:  | refused" \
    'full ram directory, status | full_ram | nimbractl status -j | 0 | open: No space left on device | json .' \
    "busybox missing | hold ${ROOT_DIR}busybox | nimbractl start | 0 | ^Can't run ${ROOT_DIR}/runsvdir: No such file or directory$ | started" \
    "service template missing | hold ${ROOT_DIR}service | nimbractl start | 0 | service': No such file or directory | started" \
    "scripts missing | hold ${ROOT_DIR}scripts | nimbractl start | 0 | check_nimbradb.sh: not found | started" \
    "configuration is a directory | rm \$NIMBRA_CONFIG && mkdir \$NIMBRA_CONFIG | nimbractl start | 1 | $CONFIG_FAILS | refused" \
    "configuration is a FIFO | agent_up && rm \$NIMBRA_CONFIG && mkfifo \$NIMBRA_CONFIG | nimbractl status | 1 | $CONFIG_FAILS | test -e $STATUS_DIR/nimbra_running" \
    "configuration empty | : >\$NIMBRA_CONFIG | nimbractl start | 1 | $CONFIG_FAILS | refused" \
    "configuration missing | agent_up && rm \$NIMBRA_CONFIG | nimbractl stop | 1 | ^tkvs_init: File '$NIMBRA_CONFIG' does not exist$ | test -e $STATUS_DIR/nimbra_running" \
    "interface vanishes before its set-up | vanish_on ifconfig | nimbractl start | 0 | ^Failed to get MAC for interface $DUMMY$ | ! test -e $STATUS_DIR/nimbra_running && ! test -e $STATUS_DIR/nimbra_starting && ! pgrep -x runsvdir && [[ \$(iptables -S FORWARD) != *NIMBRA* ]]" \
    "a reset that cannot start the agent again | agent_up && mkdir -p $WORK/data && nimbra-ini set nimbra_path.data $WORK/data && ip tuntap add dev $DUMMY mode tun && nimbra-ini set network.ifnames $DUMMY | nimbractl reset | 0 | ^Failed starting Nimbra-Agent$ | says '^Failed to get MAC for interface $DUMMY$' && ! test -e $STATUS_DIR/nimbra_running && ! test -e $STATUS_DIR/nimbra_starting" \
    "an interface without IPv4 | without_ipv4 | nimbractl start | 0 | ^Skipping DNS interception on $DUMMY: no IPv4 address$ | started && [[ \$(nat_rules_of tcp) == 4 && \$(nat_rules_of udp) == 0 ]]" \
    "interface vanishes before the firewall | vanish_on ipset | nimbractl start | 0 | ^Failed retrieving router's IPv6 address: No such device$ | started"
finish
