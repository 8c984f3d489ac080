#!/usr/bin/env bash
# status and version on the sandbox router, as an operator and a web
# interface read them: text for people, one JSON line checked by jq.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

readonly STATUS_KEYS='["nimbra-running","nimbra-provisioned","rclient"]'

nimbra status -j
expect_json "stopped: status -j has its three members in order" "$OUT" "keys_unsorted == $STATUS_KEYS"
expect_json "stopped: not running, provisioned, rclient disconnected" "$OUT" \
    '.["nimbra-running"] == "false" and .["nimbra-provisioned"] == "true" and .rclient == "disconnected"'
nimbra status
expect_contains "stopped: text says not running" "$OUT" "Nimbra Running: false"
expect_not_contains "stopped: no process section" "$OUT" "Nimbra Processes:"
expect_contains "stopped: no ping recorded" "$OUT" "           last ping: none"

nimbra start
wait_until 15 all_services_run || true
wait_until 10 test -e "$STATUS_DIR/configd_last_logs" || true
nimbra status -J extra
expect_json "running: status -J (any case) is JSON, running and connected" "$OUT" \
    '.["nimbra-running"] == "true" and .rclient == "connected"'
nimbra status
expect_contains "running: interface line" "$OUT" "    Nimbra running on interface br0"
expect_eq "running: ten supervised services listed" 10 "$(grep -c '^run: /var/service/' <<<"$OUT")"
expect_contains "running: configd authenticated" "$OUT" "configd:   last auth: success, "
expect_false "no provisioning lock left behind" test -e "$RAM_DIR/provisioning.lock"

nimbra version -j
expect_json "version -j members" "$OUT" \
    'keys_unsorted == ["agent-version","db-version","platformdb-version"]'
read -r agent_version _ <"/var/nimbra/agent/shares/VERSION"
expect_json "version -j shows the installed agent version" "$OUT" ".[\"agent-version\"] == \"$agent_version\""
nimbra version
expect_contains "version text" "$OUT" "Nimbra Agent Version: $agent_version"
expect_eq "reports write nothing on stderr" "" "$ERR"

nimbra stop
finish
