#!/usr/bin/env bash
# The agent's life on the sandbox router, every command word (with
# NIMBRA_E2E_MEMCHECK=1, each under memcheck).
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

readonly DB_DIR=/var/nimbra/db STOPPED='^\{"nimbra-running":"false","nimbra-provisioned":"true","rclient":"disconnected"\}$'

plant_data() {
    mkdir -p "$DB_DIR" "$RAM_DIR/tracking" "$RAM_DIR/category_data"
    touch "$DATA_DIR/learned" "$DATA_DIR/.keep" "$DB_DIR/main.db" "$DB_DIR/.keep" \
        "$RAM_DIR/tracking/t1" "$RAM_DIR/category_data/c1" "$RAM_DIR/urls.tmp"
}
# Reset left dot files, certificates and the install.
data_reset() {
    [[ $(find "$DATA_DIR" "$DB_DIR" "$RAM_DIR/tracking" "$RAM_DIR/category_data" -mindepth 1 ! -name '*.pem' \
        -printf '%f ') == ".keep .keep " ]] && ! test -e "$RAM_DIR/urls.tmp" && test -x "$ROOT_DIR/apid"
}
# The environment the agent's database check script saw.
exported() {
    eventually test -s "$RAM_DIR/check_nimbradb.env" || return
    for line; do grep -q "^$line" "$RAM_DIR/check_nimbradb.env" || return; done
}
# shellcheck disable=SC2034  # in a row
readonly ENVIRONMENT=("NIMBRA_ROOT=$ROOT_DIR$" NIMBRA_BASE=/var/nimbra/agent/shares/$ "NIMBRA_TMP=$RAM_DIR$"
    "NIMBRA_DATA=$DATA_DIR$" "NIMBRA_DB_PATH=$DB_DIR$" "NIMBRA_LOG=$LOG_DIR$" NIMBRA_BRIDGE=br0$ NIMBRA_DNSMASQ_PORT=5300$
    NIMBRA_ROUTER_DNSMASQ_PORT=53$ NIMBRA_PORT_FILTERD=4600$ NIMBRA_PORT_TIMETRACKER_DNS=4601$ NIMBRA_PORT_DNSMASQ_SAVEDQ=4605$
    NIMBRA_PORT_IPADDR_MANAGER=4603$ "PATH=$ROOT_DIR:" LD_LIBRARY_PATH=/var/nimbra/agent/shares/usr/lib/)
supervisors_of_ten() { [[ $(pgrep -cx runsvdir):$(pgrep -cx runsv):$(pgrep -cx svlogd) == 1:10:10 ]]; }
identity='^    (vendor name: Sandbox Networks|router model: SBX-1 Home Router|router serial: 5b3d9c2e7a1f4e6b8c0d2f4a6b8c0d1e|router FW version: 23\.05\.3|router HW version: v1)$'

# shellcheck disable=SC2016  # the rows' shell code expands when it runs
run_rows \
    "no command word | - | nimbractl | 1 | ^nimbractl <command>$ | [[ \$(stat -c %a $RAM_DIR) == 755 ]]" \
    "stop before any start | settle $WORK/fresh | nimbractl stop | 0 | ^Nimbra stopped\.$ | same_state $WORK/fresh" \
    "status -j, stopped | - | nimbractl status -j | 0 | $STOPPED | json ." \
    'status, stopped | - | nimbractl status | 0 | ^           last ping: none$ | ! says "Nimbra Processes:"' \
    'version -j | - | nimbractl version -j | 0 | ^\{"agent-version":"5\.2\.1","db-version":"2024\.06\.1","platformdb-version":"318"\}$ | json . && ! test -s $WORK/err' \
    "pfc without a configuration | ROW_ENV=(NIMBRA_CONFIG=/var/nimbra/absent.ini) | nimbractl pfc | 1 | ^Error while setting Nimbra environment variables$ | same_state $WORK/fresh" \
    "pfc, a test chain left over, an earlier run's environment | ROW_ENV=(NIMBRA_ROOT=/stale NIMBRA_TMP=/stale NIMBRA_PORT_FILTERD=1) && nimbra-ini set nimbra_log.max_log_size 110000 && iptables -w -t nat -N NIMBRA_VENDOR_TEST && ip6tables -w -t nat -N NIMBRA_VENDOR_TEST | nimbractl pfc | 0 | ^    Passed: 10$ | says '^    Failed: 3$' && [[ \$(grep -cE '$identity' $WORK/out) == 5 ]] && [[ \$(grep -cE ': PASS$' $WORK/out) == 10 ]] && says '^    no active flows found$' && says '^\* Acclerator tests need' && [[ \$(ip6tables-save; iptables-save) != *VENDOR_TEST* ]]" \
    "what start hands to the agent | - | - | - | ^Nimbra successfully started\.$ | exported \"\${ENVIRONMENT[@]}\" && [[ \$(<$RAM_DIR/MAC) == \$(</sys/class/net/br0/address) ]] && cmp $ROOT_DIR/hosts $RAM_DIR/nimbra_hosts && test -d $RAM_DIR/localization/en" \
    "services under runit, logs kept by svlogd | - | - | - | - | eventually all_services_run && [[ \$(<$LOG_DIR/pingpongd/config) == \$'n10\ns1000' ]] && eventually compgen -G '$LOG_DIR/pingpongd/@*.s' >/dev/null && openssl x509 -noout -in $DATA_DIR/apid.pem && openssl x509 -noout -in $DATA_DIR/webd.pem" \
    "status, running | eventually test -e $STATUS_DIR/configd_last_auth | nimbractl status | 0 | ^    Nimbra running on interface br0$ | [[ \$(grep -c '^run: /var/service/' $WORK/out) == 10 ]] && says '^configd:   last auth: success, [0-9]+s$'" \
    "status -J and a word more | eventually test -e $STATUS_DIR/rclient_connected | nimbractl status -J more | 0 | ^\{\"nimbra-running\":\"true\",\"nimbra-provisioned\":\"true\",\"rclient\":\"connected\"\}$ | json ." \
    "a second start | settle $WORK/started | nimbractl start | 0 | ^Nimbra already running or starting$ | ! says 'Setting up' && same_state $WORK/started" \
    "reset, running | plant_data | nimbractl reset | 0 | ^Nimbra stopped\.$ | says '^Nimbra successfully started\.$' && data_reset && test -e $STATUS_DIR/nimbra_running && ! test -e $RAM_DIR/nimbra_resetting && eventually all_services_run && eventually supervisors_of_ten" \
    "reset during a reset | touch $RAM_DIR/nimbra_resetting && plant_data | nimbractl reset | 0 | ^nimbra agent is resetting, no op$ | test -e $DATA_DIR/learned && rm $RAM_DIR/nimbra_resetting" \
    "stop | - | nimbractl stop | 0 | ^Nimbra stopped\.$ | agent_processes_end && same_state $WORK/fresh && ! test -e $STATUS_DIR && ! test -e $LOG_DIR" \
    "reset, stopped | plant_data | nimbractl reset | 0 | ^Resetting Nimbra \.\.\.$ | ! says 'Nimbra successfully started' && ! test -e $STATUS_DIR/nimbra_running && data_reset" \
    "status -j after the resets | - | nimbractl status -j | 0 | ${STOPPED/true/false} | -" \
    "start | - | nimbractl start | 0 | ^Nimbra successfully started\.$ | eventually all_services_run" \
    "restart | state >$WORK/before | nimbractl restart | 0 | ^Nimbra stopped\.$ | says '^Nimbra successfully started\.$' && eventually all_services_run && diff $WORK/before <(state) && eventually supervisors_of_ten"
finish
