# Shared by the benchmarks: their tools, the sandbox router, the agent's
# settled states, and the rows of the README's performance table they print
# on stdout (progress and hyperfine's own report go to stderr). Run as a
# program, `bench/lib.sh settle WORD` is hyperfine's --prepare.
# shellcheck shell=bash

set -euo pipefail
export LC_ALL=C

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=${BENCH_DIR%/*}
NIMBRA_BIN=${NIMBRA_BIN:-$REPO/build/default/bin/nimbractl}
BUILD=${NIMBRA_BIN%/bin/*}
# shellcheck disable=SC2034 # BUILD and SETTLE serve the scripts
readonly BENCH_DIR REPO BUILD SETTLE="bash $BENCH_DIR/lib.sh settle"
# In the sandbox, the program itself: the sandbox's nimbractl is a script
# that gives it the router's PATH, a shell more in every timing.
[[ ${SANDBOX_ROUTER:-} != 1 ]] || PATH=${NIMBRA_BIN%/*}:$PATH

bench_die() {
    echo "${0##*/}: $*" >&2
    exit 1
}

# need CMD...: installs each missing CMD (the Debian package of its name),
# as root from the host: the sandbox has neither apt's state nor the network.
need() {
    local cmd
    for cmd; do
        command -v "$cmd" >/dev/null && continue
        echo "${0##*/}: installing ${cmd##*/} ..." >&2
        { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${cmd##*/}"; } >/dev/null ||
            bench_die "cannot install ${cmd##*/}: run me as root from the host"
    done
}

# sandboxed ARGS...: runs the calling script with ARGS again inside the
# sandbox router, unless it is there.
sandboxed() {
    [[ ${SANDBOX_ROUTER:-} == 1 ]] && return
    ((EUID == 0)) || bench_die "run me as root: the sandbox router needs namespaces"
    [[ -x $NIMBRA_BIN ]] || bench_die "no $NIMBRA_BIN: cmake --preset default && cmake --build --preset default"
    export NIMBRA_BIN
    rm -rf "$WORK"
    exec "$REPO/sandbox/run" "$BENCH_DIR/${0##*/}" "$@"
}

# The date, the machine and its load: others may share it.
context() {
    local load
    read -r load _ </proc/loadavg
    printf '%s: %s, Linux %s, %d cores, load %s\n' "${0##*/}" "$(date '+%F %R')" "$(uname -r)" "$(nproc)" "$load" >&2
}

# awaited start|stop: waits (at most 20 s) until the agent's ten services
# run, or until stop's signals have taken its daemons down.
awaited() {
    local sv=/var/nimbra/agent/shares/usr/bin/sv _
    for _ in {1..200}; do
        if [[ $1 == start ]]; then
            (($("$sv" status /var/service/* 2>/dev/null | grep -c '^run: ') == 10))
        else
            ! grep -qxE 'runsvdir|runsv|svlogd|stubd|dnsmasq|openssl' <<<"$(ps -eo comm=)"
        fi && return 0
        sleep 0.1
    done
    echo "${0##*/}: warning: the agent has not settled after $1" >&2
}

# settle start|stop: the router as `nimbractl WORD` leaves it, settled, and
# always reached the same way: stop, then start for start.
settle() {
    nimbractl stop >/dev/null 2>&1
    awaited stop
    [[ $1 == stop ]] && return
    nimbractl start >/dev/null 2>&1
    awaited start
    # A running agent, not one just started: runsv pauses a second before it
    # lets a service younger than a second end, which stop then waits out.
    sleep 1.1
}

# row WHAT VALUE REFERENCE REF_VALUE: a row of the table, with the ratio of
# the numbers VALUE and REF_VALUE begin with.
row() {
    awk -v what="$1" -v value="$2" -v ref="$3" -v ref_value="$4" -v script="bench/${0##*/}" \
        'BEGIN { printf "| %s | `%s` | %s | %s: %s | %.2f |\n", what, script, value, ref, ref_value, value / ref_value }'
}

# compare WHAT REFERENCE REF_CMD CMD [HYPERFINE OPTIONS...]: times CMD and
# REF_CMD in one hyperfine run (no shell between); the row gives the median
# and the standard deviation of the runs of each, and the ratio of the
# medians (the median shrugs off the busy moments of a shared machine).
compare() {
    hyperfine -N --style basic --export-csv "$WORK/times.csv" "${@:5}" -n "$1" "$4" -n "$2" "$3" >&2
    local -a times
    # Columns: name, mean, stddev, median, user, system, min, max (seconds).
    mapfile -t times < <(awk -F , 'NR > 1 { printf ($(NF - 4) < 0.1 ? "%.2f ms (σ %.2f)\n" : "%.0f ms (σ %.0f)\n"),
        $(NF - 4) * 1000, $(NF - 5) * 1000 }' "$WORK/times.csv")
    row "$1" "${times[0]}" "$2" "${times[1]}"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    "$@"
    exit
fi
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
