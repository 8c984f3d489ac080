#!/usr/bin/env bash
# reset on the sandbox router: learned data goes, dot files and the
# installation stay, a running agent runs again, a stopped one stays
# stopped, and of several resets launched together only one works.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

readonly DB_DIR=/var/nimbra/db

plant_data() {
    mkdir -p "$DATA_DIR" "$DB_DIR" "$RAM_DIR/tracking" "$RAM_DIR/category_data"
    touch "$DATA_DIR/learned" "$DATA_DIR/.keep" "$DB_DIR/main.db" "$DB_DIR/.keep" \
        "$RAM_DIR/tracking/t1" "$RAM_DIR/category_data/c1" "$RAM_DIR/urls.tmp"
}

nimbra start
plant_data
nimbra reset
expect_eq "reset exits 0" 0 "$STATUS"
expect_contains "reset stops the running agent" "$OUT" "Nimbra stopped."
expect_contains "and starts it again" "$OUT" "Nimbra successfully started."
# The certificates are made again by the start that ends the reset.
expect_eq "data emptied, dot file kept" ".keep" "$(find "$DATA_DIR" -mindepth 1 ! -name '*.pem' -printf '%f\n')"
expect_eq "database emptied, dot file kept" ".keep" "$(ls -A "$DB_DIR")"
expect_false "tracking removed" test -e "$RAM_DIR/tracking/t1"
expect_false "category data emptied" test -e "$RAM_DIR/category_data/c1"
expect_false "urls.tmp removed" test -e "$RAM_DIR/urls.tmp"
expect_true "installation kept" test -x "$ROOT_DIR/apid"
expect_true "running again" test -e "$STATUS_DIR/nimbra_running"
expect_false "resetting marker gone" test -e "$RAM_DIR/nimbra_resetting"

touch "$RAM_DIR/nimbra_resetting"
plant_data
nimbra reset
expect_eq "a reset during a reset does nothing" \
    $'Resetting Nimbra ...\nnimbra agent is resetting, no op' "$OUT"
expect_true "nothing removed meanwhile" test -e "$DATA_DIR/learned"
expect_true "the other reset's marker stays" test -e "$RAM_DIR/nimbra_resetting"
rm "$RAM_DIR/nimbra_resetting"

nimbra stop
plant_data
for i in 1 2 3 4 5; do
    nimbractl reset >"$WORK/reset.$i" 2>&1 &
done
wait
expect_eq "of five resets at once, four do nothing" 4 \
    "$(cat "$WORK"/reset.* | grep -c 'nimbra agent is resetting, no op')"
expect_false "a stopped agent stays stopped" test -e "$STATUS_DIR/nimbra_running"
expect_false "data removed once" test -e "$DATA_DIR/learned"

finish
