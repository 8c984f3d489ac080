#!/bin/sh
# Would point the search engines' names at their safe-search addresses; the
# sandbox has no search engines. Like the real script it reports on its
# output for a while before it ends (and dies of SIGPIPE if that output is
# a pipe nobody reads any more); it records that it ran and that it
# finished.
echo "resolv_safesearch: ran at $(date +%s)" >>"$NIMBRA_TMP/resolv_safesearch.log"
for step in 1 2; do
	echo "resolv_safesearch: resolving safe-search names, pass $step of 2"
	sleep 1
done
echo "resolv_safesearch: safe-search names resolved"
echo "resolv_safesearch: finished at $(date +%s)" >>"$NIMBRA_TMP/resolv_safesearch.log"
