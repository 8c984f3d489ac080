#!/usr/bin/env bash
# The demo. On a fresh Debian machine, as root: checks that the machine can
# host the sandbox router (sandbox/run), installs what the demo needs, builds
# nimbractl and the vendor library and runs them on the router. There it
# starts the agent, shows the reports and the rule set, proves with real
# packets from the LAN client that DNS and web traffic are redirected and a
# filtered flow is refused, stops the agent and shows the router back as it
# was. Ends with a PASS/FAIL summary and exits 1 if any proof failed.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
readonly REPO
readonly UPSTREAM=198.51.100.2 CLIENT=192.168.1.100

results=()

# phase WHAT CMD...: runs CMD, saying what it does and how long it took.
phase() {
    local what=$1 started=$SECONDS
    shift
    echo "demo.sh: $what ..."
    "$@"
    echo "demo.sh: $what: done in $((SECONDS - started)) s"
}

configure() {
    cmake --preset demo >/dev/null
}

build_and_enter() {
    cd "$REPO"
    # Before minutes of installing and building: can this machine host it?
    sandbox/run --check
    phase "installing the packages the demo needs" sandbox/install-deps.sh demo
    phase "configuring the build" configure
    phase "building nimbractl and the vendor library" cmake --build --preset demo -j "$(nproc)"
    NIMBRA_BIN=$REPO/build/demo/bin/nimbractl exec sandbox/run "$REPO/sandbox/demo.sh" --inside
}

bold() {
    if [[ -t 1 ]]; then printf '\033[1m%s\033[0m\n' "$*"; else printf '%s\n' "$*"; fi
}

heading() {
    echo
    bold "=== $* ==="
}

# Shows a command and its output; the demo goes on whatever it returns.
show() {
    bold "\$ $*"
    "$@" 2>&1 || true
}

# proof WHAT CMD...: CMD succeeding proves WHAT.
proof() {
    local what=$1
    shift
    if "$@"; then
        results+=("PASS  $what")
        bold "==> PASS: $what"
    else
        results+=("FAIL  $what")
        bold "==> FAIL: $what"
    fi
}

# ------------------------------------------------------------------ proofs

# A DNS query from the LAN client to the upstream host, which runs no DNS
# server: only the agent's interception can answer it.
lookup() {
    show lan timeout 5 busybox nslookup demo.test "$UPSTREAM" | tee "$WORK/lookup"
    grep -q "^Address: $UPSTREAM\$" "$WORK/lookup"
}

dns_unanswered() {
    ! lookup
}

dns_answered_by_agent() {
    lookup || return 1
    echo "The agent's dnsmasq log:"
    cat "$LOG_DIR"/dnsmasq/* | grep "demo.test from $CLIENT"
}

# fetch PORT URL: the page a LAN client gets with source port PORT.
fetch() {
    show lan curl -sS --max-time 5 --local-port "$1" "$2" | tee "$WORK/page"
}

web_redirected() {
    fetch 40000 http://10.123.234.1/
    grep -q "Blocked by Nimbra" "$WORK/page"
}

flow_passes() {
    fetch "$1" "http://$UPSTREAM:8080/"
    grep -q "upstream test host" "$WORK/page"
}

# The set holds flows as packet destination, packet source port, packet
# source: (dst,src,src).
filter_flow() {
    show ipset "$1" filtered "$UPSTREAM,tcp:$2,$CLIENT"
}

filtered_flow_refused() {
    filter_flow add 40002
    ! flow_passes 40002
}

unfiltered_flow_passes() {
    filter_flow del 40002
    flow_passes 40002
}

filtered_web_flow_redirected() {
    filter_flow add 40003
    fetch 40003 "http://$UPSTREAM/"
    grep -q "Blocked by Nimbra" "$WORK/page"
}

services_supervised() {
    show "$ROOT_DIR/sv" status /var/service/* | tee "$WORK/sv"
    [[ $(grep -c '^run: ' "$WORK/sv") == 10 ]]
}

router_as_before() {
    snapshot >"$WORK/after"
    bold "\$ diff <snapshot before start> <snapshot after stop>"
    diff -u "$WORK/before" "$WORK/after" && echo "(no difference)"
}

agent_chains_empty() {
    local rules
    rules=$(agent_rules)
    echo "Rules left in the agent's chains: ${rules:-none}"
    [[ -z $rules ]]
}

agent_running() {
    all_services_run && [[ -e $STATUS_DIR/rclient_connected ]]
}

# ------------------------------------------------------------------ the demo

demo() {
    heading "The sandbox router"
    echo "LAN bridge br0 192.168.1.1 with client $CLIENT; wan0 198.51.100.1 to the upstream test host $UPSTREAM."
    show ip -br addr
    show lan ip -br addr
    snapshot >"$WORK/before"

    heading "Before start"
    proof "without the agent, DNS sent to the upstream host gets no answer" dns_unanswered

    heading "nimbractl start"
    show nimbractl start
    # Give the services a moment to record something for status.
    echo "(waiting up to 15 s for the ten services and the cloud connection)"
    wait_until 15 agent_running || true
    sleep 2

    heading "Reports"
    show nimbractl status
    show nimbractl status -j
    show nimbractl version
    show nimbractl version -j

    heading "The rule set"
    show iptables -S
    show iptables -t nat -S
    show ip6tables -S
    show ip6tables -t nat -S
    show ipset list -n
    show ip addr show dev br0
    show ip route

    heading "Proofs with real packets from the LAN client"
    proof "runit supervises the ten agent services" services_supervised
    proof "DNS sent to the upstream host is answered by the agent's dnsmasq" dns_answered_by_agent
    proof "web traffic to 10.123.234.1 reaches the agent's web daemon" web_redirected
    proof "a flow to the upstream host passes" flow_passes 40001
    proof "the same flow entered in the filtered set is refused" filtered_flow_refused
    proof "the same flow passes again once its entry is gone" unfiltered_flow_passes
    proof "a filtered web flow gets the agent's block page" filtered_web_flow_redirected

    heading "nimbractl stop"
    show nimbractl stop
    wait_until 10 agent_processes_gone || true

    heading "After stop"
    proof "the router is back as it was before start" router_as_before
    proof "the agent's chains are left empty" agent_chains_empty
    proof "DNS sent to the upstream host gets no answer again" dns_unanswered

    heading "Summary"
    printf '%s\n' "${results[@]}"
    if printf '%s\n' "${results[@]}" | grep -q '^FAIL'; then
        bold "DEMO FAILED"
        return 1
    fi
    bold "DEMO PASSED: all ${#results[@]} proofs hold (the demo on the router took $SECONDS s)"
}

if [[ ${1-} == --inside ]]; then
    # The sandbox helpers: snapshots, waits, the agent's paths.
    # shellcheck source=lib.sh
    source "$REPO/sandbox/lib.sh"
    demo
else
    build_and_enter
fi
