#!/usr/bin/env bash
# Hostile input, the rows of docs/faults.md: each command ends with its status
# and message, no injected command runs (the canary file), and nothing is
# written outside the configured directories.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

readonly CANARY=/var/nimbra/canary VICTIM=/var/nimbra/victim
mkdir -p "$VICTIM" && echo keep >"$VICTIM/file"
cp "$NIMBRA_CONFIG" "$WORK/config.ini"

# config_of KEY[=VALUE]...: the sandbox's configuration with KEY set (or removed).
config_of() {
    local setting && cp "$WORK/config.ini" "$NIMBRA_CONFIG"
    for setting; do if [[ $setting == *=* ]]; then nimbra-ini set "${setting%%=*}" "${setting#*=}"; else nimbra-ini unset "$setting"; fi; done
}
after_row() {
    ! test -e "$CANARY" && ! compgen -G "$STATUS_DIR/nimbra_*" && cp "$WORK/config.ini" "$NIMBRA_CONFIG"
}
# /var and /run but the configured directories, the service tree and this test's own.
listing() {
    find /var /run -xdev \( -path "$WORK" -o -path /var/nimbra/agent -o -path "$RAM_DIR" -o -path "$DATA_DIR" \
        -o -path /var/nimbra/db -o -path "$LOG_DIR" -o -path /var/service -o -path "$NIMBRA_CONFIG*" \
        -o -path /run/xtables.lock \) -prune -o -printf '%p %y\n' | sort
}
# Numbers, switches, section and key names never reach a shell.
numbers_hostile() {
    local key
    for key in hwa_flow.raise_supported hwa_flow.flush_interval nimbra_ports.base_port nimbra_ports.dnsmasq_port \
        nimbra_ports.router_dnsmasq_port iptables.chains_handled_by_router iptables.use_tproxy_ipv6 \
        nimbra_log.max_log_size security.certfile; do
        nimbra-ini set "$key" "\$(touch $CANARY)\`touch $CANARY\`|touch $CANARY&"
    done
    # shellcheck disable=SC2016  # written, not run
    printf '[$(touch %s)]\n`touch %s` = ;touch %s\n' "$CANARY" "$CANARY" "$CANARY" >>"$NIMBRA_CONFIG"
}
# plant FILE...: FIFOs without a writer, on which a blocking read waits for ever.
plant() { rm -rf "$@" && mkdir -p "$STATUS_DIR" && for file; do mkfifo "$file"; done; }

# command | exit | stdout or stderr pattern | the setting
configs=(
    "start|1|^Unsafe value for network.ifnames: |network.ifnames=br0\$(touch\${IFS}$CANARY)"
    "start|1|^Unsafe value for nimbra_path.base: |nimbra_path.base=/var/nimbra/agent\`touch $CANARY\`"
    "status|1|^Unsafe value for nimbra_path.ramdisk: |nimbra_path.ramdisk=$RAM_DIR>$CANARY"
    "stop|1|^Unsafe value for nimbra_path.log: |nimbra_path.log=$LOG_DIR|touch $CANARY"
    "version|1|^Unsafe value for nimbra_path.db: |nimbra_path.db=/var/nimbra/db'\$(touch $CANARY)'"
    "reset|1|^Unsafe value for nimbra_path.data: |nimbra_path.data=$DATA_DIR&touch $CANARY&"
    "stop|1|^Unsafe value for nimbra_path.log: |nimbra_path.log=$LOG_DIR/../victim"
    "reset|1|^Unsafe value for nimbra_path.data: |nimbra_path.data=$DATA_DIR/../victim"
    "start|1|^Unsafe value for nimbra_path.db: |nimbra_path.db=var/nimbra/db"
    "start|1|^Unsafe value for nimbra_path.ramdisk: |nimbra_path.ramdisk=$RAM_DIR/$(printf 'x/%.0s' {1..2048})"
    "version|1|^Unsafe value for nimbra_path.db: |nimbra_path.db=/var/nimbra/db/$(printf 'x%.0s' {1..66})"
    "start|1|^Unsafe value for network.ifnames: |network.ifnames=../net/br0"
    "start|1|^Error while setting Nimbra environment variables$|network.ifnames"
    "stop|0|^Nimbra stopped\.$|nimbra_path.log=$LOG_DIR;touch>$CANARY;"
    "start|0|^Invalid base port: 65535$|nimbra_ports.base_port=$(printf '9%.0s' {1..4096})"
    "start|0|^Can't find Nimbra root directory: $|nimbra_path.base"
    "start|0|^Invalid base port: 1023$|nimbra_ports.base_port=1023"
    "start|0|^Invalid base port: 65409$|nimbra_ports.base_port=65409"
    "start|0|^Can't find Nimbra root directory: /var/nimbra/none/shares/usr/bin/$|nimbra_path.base=/var/nimbra/none"
    "start|0|^Can't find Nimbra data directory: $NIMBRA_CONFIG/data$|nimbra_path.data=$NIMBRA_CONFIG/data"
    "start|0|^Can't find Nimbra ram directory: $NIMBRA_CONFIG/ram$|nimbra_path.ramdisk=$NIMBRA_CONFIG/ram"
    "start|0|^Can't find accelerator flow config$|hwa_flow.flush_interval"
    "start|0|^Can't find network interface: aaaa|network.ifnames=br0,$(printf 'a%.0s' {1..65536})"
)
rows=("before | listing >$WORK/before | - | - | - | -"
    "the bridge's name, ifnames unset | config_of network.ifnames 'network.bridge_ifname=br0\"\\ntouch $CANARY\"' | nimbractl start | 1 | ^Unsafe value for network.bridge_ifname: | -")
for entry in "${configs[@]}"; do
    IFS='|' read -r command status pattern setting <<<"$entry"
    printf -v quoted %q "$setting"
    rows+=("$command with ${setting:0:60} | config_of $quoted | nimbractl $command | $status | $pattern | -")
done
rows+=(
    "payloads in numbers and names | numbers_hostile | nimbractl start | 0 | ^Nimbra successfully started\.$ | nimbractl status -j | jq -e . >/dev/null && nimbractl stop >/dev/null"
    "TPROXY, the agent's DNS not on 53 | config_of iptables.use_tproxy_ipv6=1 nimbra_ports.router_dnsmasq_port=5353 | nimbractl start | 0 | ^Invalid configuration : IPv6 TPROXY works only with dnsmasq port 53 | -"
    "TPROXY, the router's DNS on 53 | config_of iptables.use_tproxy_ipv6=1 nimbra_ports.dnsmasq_port=53 | nimbractl start | 0 | ^Invalid configuration : IPv6 TPROXY | -"
    "the bridge's name without an interface list | config_of network.ifnames network.bridge_ifname=br0 | nimbractl start | 0 | ^NIMBRA_BRIDGE +: br0$ | nimbractl stop >/dev/null"
    "logging off | config_of nimbra_log.max_log_size=0 | nimbractl start | 0 | ^Nimbra-Agent service logging is disabled$ | ! test -e /var/service/apid/log && nimbractl stop >/dev/null"
    "a deep data directory | config_of nimbra_path.data=$DATA_DIR/$(printf 'd/%.0s' {1..30}) | nimbractl start | 0 | ^Nimbra successfully started\.$ | test -s $DATA_DIR/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/d/apid.pem && nimbractl stop >/dev/null"
    "status files that block | plant $STATUS_DIR/rclient_last_ping $STATUS_DIR/configd_last_logs $DATA_DIR/cloudtoken | nimbractl status | 0 | ^           last ping: none$ | rm $STATUS_DIR/rclient_last_ping $STATUS_DIR/configd_last_logs $DATA_DIR/cloudtoken"
    "version files that block | mv /var/nimbra/agent/shares/VERSION $WORK && plant /var/nimbra/agent/shares/VERSION | nimbractl version -j | 0 | \"agent-version\":\"\" | mv -f $WORK/VERSION /var/nimbra/agent/shares/ && json ."
    "nothing outside the configured directories | rm -rf $DATA_DIR/d | - | - | - | test -f $VICTIM/file && diff $WORK/before <(listing)"
)
run_rows "${rows[@]}"
finish
