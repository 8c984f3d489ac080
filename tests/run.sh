#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every unit test and (as
# root) every end-to-end test in the sandbox router.
set -euo pipefail
cd "$(dirname "$0")/.."
sandbox/install-deps.sh test
cmake --preset default
cmake --build --preset default -j "$(nproc)"
ctest --preset default
