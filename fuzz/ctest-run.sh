#!/bin/sh
# One short fuzz run, as CTest registers it for each target:
#   ctest-run.sh BINARY CORPUS ARTIFACT_PREFIX DICT
# New inputs go to a temporary directory, removed afterwards (libFuzzer
# writes into the first directory it is given); crash, leak and timeout
# inputs under ARTIFACT_PREFIX. Any finding fails the run.
set -eu
new=$(mktemp -d "${TMPDIR:-/tmp}/nimbra_fuzz_new.XXXXXX")
trap 'rm -rf "$new"' EXIT
mkdir -p "$3"
"$1" -max_total_time="${NIMBRA_FUZZ_SECONDS:-20}" -timeout=5 -rss_limit_mb=1024 -print_final_stats=1 \
    -artifact_prefix="$3" -dict="$4" "$new" "$2"
