#!/usr/bin/env bash
# The command line as an operator meets it: the usage text and exit
# statuses, the environment handed to what nimbractl starts, and
# configurations that must stop every command before anything runs.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

readonly USAGE='nimbractl <command>
-------------------------------------------------
  start: configure and start nimbra services
  stop: stop nimbra services
  restart: clear and restart nimbra services
  status: print nimbra status report
  status -j: print nimbra status report in JSON format
  reset: factory reset to defaults
  pfc: configure and start nimbra services with pre-flight checks
  version: print Nimbra version info
  version -j: print Nimbra version info in JSON format
-------------------------------------------------'
readonly CANARY=/var/nimbra/canary

for args in "" help -h Start Status "help me" bogus; do
    # shellcheck disable=SC2086  # the words are the arguments
    nimbra $args
    expect_eq "'nimbractl $args' prints the usage text" "$USAGE" "$OUT"
    expect_eq "'nimbractl $args' exits 1" 1 "$STATUS"
done
expect_true "the ram directory is made before the command word is read" test -d "$RAM_DIR"

# What start hands to the agent: seen by the database check script, which
# the sandbox's agent runs with the exported environment.
nimbra start
wait_until 10 test -s "$RAM_DIR/check_nimbradb.env" || true
env_seen=$(cat "$RAM_DIR/check_nimbradb.env" 2>/dev/null || true)
expect_contains "NIMBRA_BRIDGE exported" "$env_seen" "NIMBRA_BRIDGE=br0"
expect_contains "NIMBRA_PORT_IPADDR_MANAGER exported" "$env_seen" "NIMBRA_PORT_IPADDR_MANAGER=4603"
expect_contains "PATH starts with the root directory" "$env_seen" "PATH=$ROOT_DIR:"
nimbra stop

config_fails() {
    local what=$1
    shift
    cp "$NIMBRA_CONFIG" "$WORK/saved.ini"
    "$@"
    rm -f "$CANARY"
    nimbra start
    expect_eq "$what: exit 1" 1 "$STATUS"
    expect_contains "$what: says so" "$ERR" "Error while setting Nimbra environment variables"
    expect_false "$what: no command ran" test -e "$CANARY"
    expect_false "$what: nothing started" test -e "$STATUS_DIR"
    cp "$WORK/saved.ini" "$NIMBRA_CONFIG"
}

config_fails "no interface" nimbra-ini unset network.ifnames
config_fails "no data directory" nimbra-ini unset nimbra_path.data
config_fails "command substitution in an interface" \
    nimbra-ini set network.ifnames "br0\$(touch\${IFS}$CANARY)"
config_fails "backquotes in the base directory" nimbra-ini set nimbra_path.base "/var/nimbra/agent\`touch\${IFS}$CANARY\`"
config_fails "a pipe in the log directory" nimbra-ini set nimbra_path.log "/var/nimbra/log|touch\${IFS}$CANARY"
config_fails "a redirection in the ram directory" nimbra-ini set nimbra_path.ramdisk "/var/nimbra/ram>$CANARY"
expect_contains "the refusal names the key" "$ERR" "Unsafe value for nimbra_path.ramdisk"

finish
