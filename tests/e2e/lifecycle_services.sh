#!/usr/bin/env bash
# The agent's services after start: runit supervises all ten through the
# agent's busybox, svlogd keeps and rotates their logs at the configured
# size, and status reads what the services record.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

# 110000 / 11 / 10 = 1000 bytes a file: svlogd rotates at every line, so
# the chatty pingpongd fills its ten old files within seconds.
nimbra-ini set nimbra_log.max_log_size 110000

nimbra start
expect_contains "start reports success" "$OUT" "Nimbra successfully started."
expect_true "runit runs all ten services" wait_until 15 all_services_run
expect_eq "one runsvdir" 1 "$(pgrep -cx runsvdir)"
expect_eq "ten runsv" 10 "$(pgrep -cx runsv)"
expect_eq "ten svlogd" 10 "$(pgrep -cx svlogd)"

rotated_logs() {
    compgen -G "$LOG_DIR/pingpongd/@*.s" | wc -l
}
ten_rotated() {
    (($(rotated_logs) >= 10))
}
expect_eq "small log config" "$(printf 'n10\ns1000')" "$(cat "$LOG_DIR/pingpongd/config")"
expect_true "svlogd rotates the log" wait_until 20 ten_rotated
sleep 1
expect_eq "svlogd keeps ten old files" 10 "$(rotated_logs)"
expect_contains "service output reaches its log" "$(cat "$LOG_DIR"/rclient/*)" "rclient: cloud ping answered"

rclient_connected() {
    nimbra status -j
    jq -e '.rclient == "connected"' <<<"$OUT" >/dev/null
}
expect_true "status sees rclient" wait_until 10 rclient_connected
expect_json "status -j after start" "$OUT" \
    '.["nimbra-running"] == "true" and .["nimbra-provisioned"] == "true" and (keys | length) == 3'
nimbra status
expect_eq "status lists ten running services" 10 "$(grep -c '^run: /var/service/' <<<"$OUT")"

# runit restarts a service that dies.
old_pid=$(pgrep -o -f 'stubd timetracker')
kill "$old_pid"
timetracker_restarted() {
    local pid
    pid=$(pgrep -o -f 'stubd timetracker') && [[ $pid != "$old_pid" ]]
}
expect_true "runit restarts a killed service" wait_until 5 timetracker_restarted

nimbra stop
expect_true "stop ends every service" wait_until 10 agent_processes_gone
nimbra status -j
expect_json "status -j after stop" "$OUT" '.["nimbra-running"] == "false" and .rclient == "disconnected"'

finish
