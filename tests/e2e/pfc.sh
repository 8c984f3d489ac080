#!/usr/bin/env bash
# pfc with the reference vendor library against the real iptables and
# ip6tables: the ten required checks pass, the accelerator group fails
# honestly (a generic Linux router has no flows), nothing of the test is left
# behind and the agent starts. Without a configuration nothing happens.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

snapshot >"$WORK/fresh"
NIMBRA_CONFIG=/var/nimbra/absent.ini nimbra pfc
expect_eq "no configuration: the export fails" 1 "$STATUS"
expect_contains "no configuration: says so" "$ERR" "Error while setting Nimbra environment variables"
expect_same_state "no configuration: router untouched" "$WORK/fresh"

nimbra pfc
expect_eq "pfc exits 0" 0 "$STATUS"
expect_eq "ten required checks pass" 10 "$(grep -cE '^TEST \| (CONFIG FILE|ROUTER ID|IPTABLES) - .*: PASS$' <<<"$OUT")"
expect_eq "three accelerator checks fail" 3 "$(grep -cE '^TEST \| ACCELERATOR - .*: FAIL$' <<<"$OUT")"
expect_contains "no flows reported" "$OUT" "    no active flows found"
expect_contains "summary" "$OUT" $'    Passed: 10\n    Failed: 3'
expect_contains "identity read from the router" "$OUT" "    vendor name: "
expect_not_contains "no test chain left (IPv4)" "$(iptables -t nat -S)" "NIMBRA_VENDOR_TEST"
expect_not_contains "no test chain left (IPv6)" "$(ip6tables -t nat -S)" "NIMBRA_VENDOR_TEST"
expect_contains "the agent starts after passing" "$OUT" "Nimbra successfully started."
expect_true "running" test -e "$STATUS_DIR/nimbra_running"

nimbra stop
finish
