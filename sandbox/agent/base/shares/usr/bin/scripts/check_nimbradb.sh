#!/bin/sh
# Would fetch the main database when it is missing; the sandbox has no
# cloud, so it records which database it found. Like the real script it
# reports on its output for a while before it ends (and dies of SIGPIPE if
# that output is a pipe nobody reads any more), then records that it
# finished.
db=$(cat "$NIMBRA_ROOT/db/DATABASE_VERSION" 2>/dev/null)
echo "check_nimbradb: ran at $(date +%s), database ${db:-none}" >>"$NIMBRA_TMP/check_nimbradb.log"
# The environment nimbractl exported, for the end-to-end tests to read.
env | grep -E '^(NIMBRA_[A-Z_]*|PATH|LD_LIBRARY_PATH)=' | sort >"$NIMBRA_TMP/check_nimbradb.env"
for step in 1 2; do
	echo "check_nimbradb: database ${db:-none}, check $step of 2"
	sleep 1
done
echo "check_nimbradb: database ${db:-none} checked"
echo "check_nimbradb: finished at $(date +%s)" >>"$NIMBRA_TMP/check_nimbradb.log"
