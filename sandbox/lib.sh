# The sandbox router's helpers, for a script running inside it (sandbox/run):
# the agent's paths, a scratch directory, waits, snapshots of the router's
# state and the agent's processes. The demo and the end-to-end tests source it.
# shellcheck shell=bash

# The sandbox's agent install and configuration (sandbox/run).
# shellcheck disable=SC2034  # for the scenarios
readonly ROOT_DIR=/var/nimbra/agent/shares/usr/bin/ RAM_DIR=/var/nimbra/ram DATA_DIR=/var/nimbra/data \
    LOG_DIR=/var/nimbra/log STATUS_DIR=/var/nimbra/ram/status
WORK=$(mktemp -d)
readonly WORK

# wait_until SECONDS CMD...: polls CMD until it succeeds; 1 on timeout.
wait_until() {
    local deadline=$((SECONDS + $1))
    until "${@:2}"; do ((SECONDS < deadline)) || return 1 && sleep 0.2; done
}
eventually() { wait_until 20 "$@"; }

# The router's state (sandbox/bin/router-state) without chain declarations:
# stop leaves the agent's chains in place, empty. No pipe: its other end
# would show up in the process list.
snapshot() { router-state >"$WORK/state.raw" && grep -v '^-N ' "$WORK/state.raw"; }

# same_state FILE [SECONDS]: the router is as FILE recorded. A difference
# must last 5 s (or SECONDS) to count: a stub daemon between two sleeps is
# not a change.
same_state() {
    local deadline=$((SECONDS + ${2:-5}))
    until snapshot >"$WORK/state.now" && diff -u "$1" "$WORK/state.now" >"$WORK/state.diff"; do
        ((SECONDS < deadline)) || { cat "$WORK/state.diff" && return 1; } && sleep 0.3
    done
}
# settle FILE: a snapshot the router still matches a moment later, so that
# no process caught in passing is in it.
snapshot_twice() { snapshot >"$1" && sleep 0.5 && same_state "$1" 0 >/dev/null; }
settle() { wait_until 30 snapshot_twice "$1"; }
# The router without its process list.
state() { snapshot | sed '/^## processes/,$d'; }

# The rules in the agent's chains, in both families and every table.
agent_rules() { { iptables-save && ip6tables-save; } | grep -E '^-A (NIMBRA_[A-Z_]*|UNMANAGED|PAUSE|FILTERED) ' || true; }

agent_processes_gone() {
    local name
    for name in runsvdir runsv svlogd stubd dnsmasq openssl; do ! pgrep -x "$name" >/dev/null || return; done
}
# Every agent process ends; those left are shown if not.
agent_processes_end() { eventually agent_processes_gone || { pgrep -af 'runsv|svlogd|stubd|dnsmasq|openssl' && false; }; }
all_services_run() { [[ $("$ROOT_DIR/sv" status /var/service/* 2>/dev/null | grep -c '^run: ') == 10 ]]; }
