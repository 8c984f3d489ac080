#!/usr/bin/env bash
# Hostile input: configuration files with shell metacharacters in every
# value, huge, binary, deep, relative and ".." values; status, version and
# provisioning files written by a misbehaving daemon. Each run works or fails
# with a clear message within 60 s, no injected command runs (a canary file
# would appear), JSON output stays JSON, and nothing is written outside the
# configured directories.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

readonly CANARY=/var/nimbra/canary VICTIM=/var/nimbra/victim CWD=/var/tmp/hostile-cwd
readonly AGENT_VERSION=/var/nimbra/agent/shares/VERSION
# A private /tmp: the listing below then sees only what this sandbox writes.
mount -t tmpfs hostile-tmp /tmp
mkdir -p "$VICTIM" "$CWD"
echo keep >"$VICTIM/file"
cp "$NIMBRA_CONFIG" "$WORK/base.ini"
nimbra start
nimbra stop

# Everything under /var, /run, /tmp and /etc but the configured directories
# (and what lies on the way to them), the service tree and this test's own.
listing() {
    find /var /run /tmp /etc -xdev \( -path "$WORK" -o -path /var/nimbra/agent -o -path "$RAM_DIR" \
        -o -path "$DATA_DIR" -o -path /var/nimbra/db -o -path "$LOG_DIR" -o -path /var/service \
        -o -path "$NIMBRA_CONFIG" -o -path "$NIMBRA_CONFIG.new" -o -path /run/xtables.lock \) -prune \
        -o -printf '%p %y\n' | sort
}
listing >"$WORK/before"

# bytes FIRST LAST: every byte from FIRST to LAST but the line feed.
bytes() {
    local i
    # shellcheck disable=SC2059  # the format is the byte
    for ((i = $1; i <= $2; i++)); do ((i == 10)) || printf "\\$(printf '%03o' "$i")"; done
}

# run WHAT ARGS...: nimbractl from a directory of its own, bounded in time.
# A version file's control characters reach version -j unescaped (the JSON
# writer escapes only quotes and backslashes): such rows clear strict_json.
strict_json=1
run() {
    local what=$1
    shift
    STATUS=0
    (cd "$CWD" && timeout 60 nimbractl "$@") >"$WORK/out" 2>"$WORK/err" || STATUS=$?
    OUT=$(tr -d '\0' <"$WORK/out")
    ERR=$(head -c 3000 "$WORK/err" | tr -d '\0')
    if ((STATUS >= 124)); then fail "$what: $* ends in time, without a signal" "status $STATUS"; fi
    if [[ ${2-} == -j ]] && ((STATUS == 0)) && ((strict_json)); then
        expect_json "$what: $* prints JSON" "$OUT" .
    fi
    expect_false "$what: $* ran no injected command" test -e "$CANARY"
}

# --------------------------------------------------- shell metacharacters
# "@" stands for the setting's own value.
payloads=(
    "@\$(touch\${IFS}$CANARY)" "@\`touch $CANARY\`" "@;touch $CANARY;" "@|touch $CANARY" "@&touch $CANARY&"
    "@>$CANARY" "\"@\\ntouch $CANARY\"" "@'\$(touch $CANARY)'" "@\${IFS}\$(touch$CANARY)"
)
# Values that reach command lines: refused before any command, naming the key.
words=(nimbra_path.base=/var/nimbra/agent "nimbra_path.ramdisk=$RAM_DIR" "nimbra_path.data=$DATA_DIR"
    nimbra_path.db=/var/nimbra/db "nimbra_path.log=$LOG_DIR" network.ifnames=br0 network.bridge_ifname=br0)
for word in "${words[@]}"; do
    key=${word%%=*}
    for payload in "${payloads[@]}"; do
        # A ";" starts a note that ends the value (a row of its own below).
        [[ $payload != *";"* ]] || continue
        cp "$WORK/base.ini" "$NIMBRA_CONFIG"
        [[ $key == network.bridge_ifname ]] && nimbra-ini unset network.ifnames
        nimbra-ini set "$key" "${payload//@/${word#*=}}"
        run "$key=…$payload" start
        expect_eq "$key=…$payload: refused" 1 "$STATUS"
        expect_contains "$key=…$payload: names the key" "$ERR" "Unsafe value for $key"
    done
done

# Values read as numbers or switches never reach a shell: each gets a
# payload (two rounds, shifted), every section and key name too, and start
# runs through on the defaults.
numbers=(hwa_flow.raise_supported hwa_flow.flush_interval nimbra_ports.base_port nimbra_ports.dnsmasq_port
    nimbra_ports.router_dnsmasq_port iptables.chains_handled_by_router iptables.use_tproxy_ipv6
    nimbra_log.max_log_size security.certfile)
for shift in 0 4; do
    cp "$WORK/base.ini" "$NIMBRA_CONFIG"
    for i in "${!numbers[@]}"; do
        payload=${payloads[(i + shift) % ${#payloads[@]}]}
        nimbra-ini set "${numbers[i]}" "${payload//@/}"
    done
    # shellcheck disable=SC2016  # written, not run
    printf '[$(touch %s)]\n`touch %s` = ;touch %s\n' "$CANARY" "$CANARY" "$CANARY" >>"$NIMBRA_CONFIG"
    run "payloads in numbers, round $shift" start
    expect_contains "payloads in numbers, round $shift: start works" "$OUT" "Nimbra successfully started."
    run "payloads in numbers, round $shift" status -j
    run "payloads in numbers, round $shift" stop
done

# ------------------------------------------- size, bytes, depth, direction
# name | how the configuration is made | command | status | stdout or stderr needle
config_of() {  # config_of KEY VALUE: the base with one key set
    cp "$WORK/base.ini" "$NIMBRA_CONFIG"
    nimbra-ini set "$1" "$2"
}
junk_first() {  # junk_first CMD...: CMD's output, then the base
    { "$@"; cat "$WORK/base.ini"; } >"$NIMBRA_CONFIG"
}
sections() { seq 5000 | awk '{ print "[s" $1 "]\nkey = value " $1 }'; }
ten_mb() { head -c 10M < <(yes '; a comment line, ten megabytes of them, before the settings'); }
binary_line() { bytes 1 255; echo; printf '[%s]\n%s = %s\n' "$(bytes 1 90)" "$(bytes 94 255)" "$(bytes 1 255)"; }
nul_value() { printf 'junk = ab\0cd\n'; }
deep=/var/nimbra/data/$(printf 'd/%.0s' {1..30})
configs=(
    "a ; ends a value|config_of nimbra_path.log $LOG_DIR;touch>$CANARY;|stop|0|Nimbra stopped."
    "4 KB number|config_of nimbra_ports.base_port $(printf '9%.0s' {1..4096})|start|0|Invalid base port: 65535"
    "64 KB interface list|config_of network.ifnames br0,$(head -c 65536 /dev/zero | tr '\0' a)|start|0|Can't find network interface: aaaa"
    "4 KB directory|config_of nimbra_path.ramdisk $RAM_DIR/$(printf 'x/%.0s' {1..2048})|start|1|Unsafe value for nimbra_path.ramdisk"
    "81-character directory|config_of nimbra_path.db /var/nimbra/db/$(printf 'x%.0s' {1..66})|version|1|Unsafe value for nimbra_path.db"
    "relative directory|config_of nimbra_path.db var/nimbra/db|start|1|Unsafe value for nimbra_path.db"
    "relative base|config_of nimbra_path.base var/nimbra/agent|version|1|Unsafe value for nimbra_path.base"
    ".. in the log directory|config_of nimbra_path.log $LOG_DIR/../victim|stop|1|Unsafe value for nimbra_path.log"
    ".. in the data directory|config_of nimbra_path.data $DATA_DIR/../victim|reset|1|Unsafe value for nimbra_path.data"
    ". as an interface|config_of network.ifnames .|start|1|Unsafe value for network.ifnames"
    "path as an interface|config_of network.ifnames ../net/br0|start|1|Unsafe value for network.ifnames"
    "deep data directory|config_of nimbra_path.data ${deep%/}|start|0|Nimbra successfully started."
    "5000 sections first|junk_first sections|status -j|0|nimbra-running"
    "10 MB file|junk_first ten_mb|version -j|0|agent-version"
    "binary bytes|junk_first binary_line|status|0|Nimbra Cloud Connectivity:"
    "a NUL inside a value|junk_first nul_value|status|1|Error while setting Nimbra environment variables"
)
for row in "${configs[@]}"; do
    IFS='|' read -r name make command status needle <<<"$row"
    read -r -a make_words <<<"$make"
    "${make_words[@]}"
    read -r -a command_words <<<"$command"
    run "$name" "${command_words[@]}"
    expect_eq "$name: $command exits $status" "$status" "$STATUS"
    expect_contains "$name: ${needle:0:40}" "$OUT$ERR" "${needle:0:80}"
    [[ $command != start || $status != 0 ]] || run "$name" stop
done
expect_true "nothing outside the data directory removed" test -f "$VICTIM/file"
cp "$WORK/base.ini" "$NIMBRA_CONFIG"
rm -rf "${deep%%/d/*}/d"

# -------------------------------------------- what a daemon leaves behind
# file (in the status directory unless a path) | how it is made | status line it gives
plant() {  # plant PATH KIND: KIND is text:..., bytes, huge, fifo, dir or zero
    rm -rf "$1"
    case $2 in
    text:*) printf '%s' "${2#text:}" >"$1" ;;
    bytes) bytes 0 255 >"$1" ;;
    huge) head -c 10M /dev/zero | tr '\0' 1 >"$1" ;;
    fifo) mkfifo "$1" ;;
    dir) mkdir "$1" ;;
    zero) ln -s /dev/zero "$1" ;;
    esac
}
now=$(date +%s)
status_files=(
    "rclient_last_ping|huge|           last ping: none"
    "rclient_last_ping|bytes|           last ping: none"
    "rclient_last_ping|text:-5|           last ping: none"
    "rclient_last_ping|text:99999999999999999999999|           last ping: none"
    "rclient_last_ping|fifo|           last ping: none"
    "rclient_last_ping|zero|           last ping: none"
    "rclient_connected|dir|rclient:   connected"
    "configd_last_auth|text:success:-99999999999999999999|last auth: success, -9223372036854775808s"
    "configd_last_auth|text:success|last auth: success, -1s"
    "configd_last_auth|dir|configd:   last auth: none"
    "configd_last_settings|text:$(bytes 1 9)success:12|last settings (down): fail, "
    "configd_last_logs|text:success:$((now - 100))|last logs (up): success, "
    "configd_last_logs|fifo|           last logs (up): none"
    "$DATA_DIR/nimbraid|bytes|Nimbra Provisioned: "
    "$DATA_DIR/cloudtoken|fifo|Nimbra Provisioned: "
)
mkdir -p "$STATUS_DIR"
cp -a "$DATA_DIR" "$WORK/data.saved"
for row in "${status_files[@]}"; do
    IFS='|' read -r file kind line <<<"$row"
    [[ $file == /* ]] || file=$STATUS_DIR/$file
    plant "$file" "$kind"
    what="${file##*/} $kind"
    run "$what" status
    expect_eq "$what: status exits 0" 0 "$STATUS"
    expect_contains "$what: reported" "$OUT" "$line"
    run "$what" status -j
    rm -rf "$file"
done
rm -rf "$DATA_DIR"
cp -a "$WORK/data.saved" "$DATA_DIR"

# Version files: any byte may stand in them; version -j carries the first
# word with quotes and backslashes escaped and every other byte as it is.
# name | file | kind | agent-version as printed ("" for no check) | strict JSON
version_files=(
    "quotes and backslashes|$AGENT_VERSION|text:1.0\"\\x\\\"|1.0\\\"\\\\x\\\\\\\"|1"
    "control characters|$AGENT_VERSION|text:1.0$(bytes 1 9)$(bytes 11 12)x|1.0$(bytes 1 9)$(bytes 11 12)x|0"
    "every byte|$AGENT_VERSION|bytes||0"
    "a FIFO|$AGENT_VERSION|fifo||1"
    "10 MB database version|/var/nimbra/db/DATABASE_VERSION|huge||1"
)
cp "$AGENT_VERSION" "$WORK/VERSION.saved"
mkdir -p /var/nimbra/db
for row in "${version_files[@]}"; do
    IFS='|' read -r name file kind agent strict_json <<<"$row"
    plant "$file" "$kind"
    run "$name" version -j
    expect_eq "$name: version -j exits 0" 0 "$STATUS"
    [[ -z $agent ]] || expect_contains "$name: the first word" "$OUT" "{\"agent-version\":\"$agent\","
    run "$name" version
    rm -rf "$file"
    cp "$WORK/VERSION.saved" "$AGENT_VERSION"
done
strict_json=1

listing >"$WORK/after"
expect_eq "nothing written outside the configured directories" "" "$(diff "$WORK/before" "$WORK/after")"
expect_false "no injected command ran" test -e "$CANARY"
finish
