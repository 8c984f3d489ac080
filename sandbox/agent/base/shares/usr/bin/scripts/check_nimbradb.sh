#!/bin/sh
# Would fetch the main database when it is missing; the sandbox has no
# cloud, so it records which database it found.
db=$(cat "$NIMBRA_ROOT/db/DATABASE_VERSION" 2>/dev/null)
echo "check_nimbradb: ran at $(date +%s), database ${db:-none}" >>"$NIMBRA_TMP/check_nimbradb.log"
# The environment nimbractl exported, for the end-to-end tests to read.
env | grep -E '^(NIMBRA_[A-Z_]*|PATH|LD_LIBRARY_PATH)=' | sort >"$NIMBRA_TMP/check_nimbradb.env"
