#!/bin/sh
# The short fuzz run that CTest registers for each target:
#   ctest-run.sh BINARY CORPUS ARTIFACT_PREFIX [DICT]
# Reads the committed CORPUS, writes new inputs only to a temporary
# directory (removed afterwards) and crash, leak or timeout inputs under
# ARTIFACT_PREFIX. Exits non-zero on any finding.
set -eu

binary=$1 corpus=$2 artifacts=$3 dict=${4:-}
new=$(mktemp -d "${TMPDIR:-/tmp}/nimbra_fuzz_new.XXXXXX")
trap 'rm -rf "$new"' EXIT
mkdir -p "$artifacts"

set -- -max_total_time="${NIMBRA_FUZZ_SECONDS:-20}" -timeout=5 -rss_limit_mb=1024 \
    -print_final_stats=1 -artifact_prefix="$artifacts"
[ -n "$dict" ] && set -- "$@" -dict="$dict"
"$binary" "$@" "$new" "$corpus"
