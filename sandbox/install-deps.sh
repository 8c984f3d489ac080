#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the sandbox
# router need. Idempotent and quiet: asks apt only for what is missing and
# refreshes the package lists only then.
set -euo pipefail

readonly PACKAGES=(
    # the build and the unit tests
    build-essential cmake libgtest-dev libbenchmark-dev
    # the 32-bit ARM cross build, GoogleTest's sources for it, qemu-arm for its tests
    g++-arm-linux-gnueabihf googletest qemu-user
    # the fuzz targets: clang with libFuzzer and the sanitizer runtimes
    clang libclang-rt-dev
    # the router's tools that nimbractl drives
    iptables ipset iproute2 net-tools psmisc busybox runit
    # the sandbox router, the demo agent and the end-to-end tests
    util-linux procps dnsmasq-base openssl curl jq
    # memcheck of every command word
    valgrind
    # lint tests: the shell scripts and the man page
    shellcheck groff-base
)

missing=()
for package in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [[ $status == installed ]] || missing+=("$package")
done
((${#missing[@]} == 0)) && exit 0

if ((EUID != 0)); then
    echo "install-deps.sh: missing ${missing[*]}; run me as root to install them" >&2
    exit 1
fi
echo "Installing ${missing[*]} ..."
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# No recommends: runit recommends runit-run, which would start a runsvdir
# on the host itself.
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
