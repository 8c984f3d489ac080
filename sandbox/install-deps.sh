#!/usr/bin/env bash
# Installs the Debian packages that one use of this tree needs:
#
#   sandbox/install-deps.sh demo   the demo (sandbox/demo.sh): a compiler, CMake,
#                                  the router's tools and the sandbox's tools
#   sandbox/install-deps.sh test   the demo's and what the default preset's
#                                  tests use (tests/run.sh)
#   sandbox/install-deps.sh ci     the tests' and the cross, sanitizer, fuzz,
#                                  musl and benchmark builds (.ci/run)
#
# Asks apt only for what is missing, refreshes the package lists only then,
# and says what it fetches and how far it has got.
set -euo pipefail

# dpkg needs the sbin directories (su without -l leaves them out); apt's
# summary is read below in its C wording.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C

readonly DEMO=(
    # the build of nimbractl and the vendor library
    g++ make cmake
    # the router's tools that nimbractl drives (netbase: the protocol names
    # iptables and ipset look up)
    iptables ipset iproute2 net-tools psmisc busybox runit netbase
    # the sandbox router and the demo agent
    util-linux mount procps dnsmasq-base openssl curl
)
readonly TEST=(
    # unit tests
    libgtest-dev
    # end-to-end tests: JSON reports, memcheck of every command word
    jq valgrind
    # lint tests: the shell scripts and the man page
    shellcheck groff-base
)
readonly CI=(
    # the 32-bit ARM cross build, GoogleTest's sources for it, qemu-arm for its tests
    g++-arm-linux-gnueabihf googletest qemu-user
    # the fuzz targets: clang with libFuzzer and the sanitizer runtimes
    clang libclang-rt-dev
    # the INI store benchmark, built wherever Google Benchmark is installed
    libbenchmark-dev
    # the musl builds: npm fetches zig 0.14 (sandbox/install-zig.sh), musl's
    # loader runs the x86_64 one here, llvm-strip strips every target's
    musl npm llvm
)

say() {
    echo "install-deps.sh: $*"
}

case ${1-} in
demo) packages=("${DEMO[@]}") ;;
test) packages=("${DEMO[@]}" "${TEST[@]}") ;;
ci) packages=("${DEMO[@]}" "${TEST[@]}" "${CI[@]}") ;;
*)
    sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "${BASH_SOURCE[0]}" >&2
    exit 2
    ;;
esac
readonly profile=$1

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    # Node.js from another source than Debian brings its own npm, and
    # conflicts with Debian's.
    [[ $package != npm ]] || ! command -v npm >/dev/null || continue
    [[ $status == installed ]] || missing+=("$package")
done
((${#missing[@]} == 0)) && exit 0

if ((EUID != 0)); then
    say "the $profile profile needs ${missing[*]}; run me as root to install them." >&2
    exit 1
fi

# Reads apt's status lines (APT::Status-Fd) and prints one when the step
# changes, every 10 percent, and at least every 5 seconds.
show_progress() {
    local kind _ percent message step shown_step=starting shown_percent=0 shown_at=$SECONDS status
    while :; do
        status=0
        IFS=: read -r -t 5 kind _ percent message || status=$?
        if ((status > 128)); then
            say "still $shown_step at $shown_percent%"
            shown_at=$SECONDS
            continue
        fi
        ((status == 0)) || return 0
        case $kind in
        dlstatus) step=downloading ;;
        pmstatus) step=installing ;;
        *) continue ;;
        esac
        [[ $percent =~ ^[0-9]+ ]] || continue
        percent=${BASH_REMATCH[0]}
        if [[ $step != "$shown_step" ]] || ((percent / 10 != shown_percent / 10 || SECONDS - shown_at >= 5)); then
            say "$step $percent% ($message)"
            shown_step=$step shown_percent=$percent shown_at=$SECONDS
        fi
    done
}

# apt-get ARGS... with its progress shown and its own output kept in a log,
# which is printed only when it fails.
apt_get() {
    local log
    log=$(mktemp)
    if apt-get -o APT::Status-Fd=3 -o Dpkg::Progress-Fancy=0 "$@" 3>&1 >"$log" 2>&1 | show_progress; then
        rm -f "$log"
        return 0
    fi
    cat "$log" >&2
    rm -f "$log"
    say "apt-get $1 failed (its output is above)." >&2
    return 1
}

export DEBIAN_FRONTEND=noninteractive
# No recommends: runit recommends runit-run, which would start a runsvdir
# on the host itself.
readonly INSTALL=(install -y --no-install-recommends)
started=$SECONDS

say "refreshing the package lists"
apt_get update

# The plan: apt's summary, then one line per file to fetch: 'URI' FILE SIZE HASH.
plan=$(apt-get "${INSTALL[@]}" --print-uris "${missing[@]}")
count="an unknown number of"
[[ $plan =~ ([0-9]+)\ newly\ installed ]] && count=${BASH_REMATCH[1]}
bytes=$(awk -v quote="'" 'index($0, quote) == 1 { sum += $3 } END { print sum + 0 }' <<<"$plan")
say "the $profile profile needs ${missing[*]}: $count packages to install, $((bytes / 1000000)) MB to download"
apt_get "${INSTALL[@]}" "${missing[@]}"
say "installed $count packages in $((SECONDS - started)) s"
