#!/bin/sh
# Would point the search engines' names at their safe-search addresses; the
# sandbox has no search engines, so it only records that it ran.
echo "resolv_safesearch: ran at $(date +%s)" >>"$NIMBRA_TMP/resolv_safesearch.log"
