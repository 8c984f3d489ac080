#!/usr/bin/env bash
# The OpenWrt package installed where it puts its files and run as procd and
# rpcd run it (sandbox/openwrt stands in for procd, rc.common and logd). The
# firewall include and the hotplug script repair in place, restarting no
# daemon, and never start a stopped agent.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

PACKAGE=$(realpath "$(dirname "$0")/../../packaging/openwrt/nimbractl")
SHIM=$(realpath "$(dirname "$0")/../../sandbox/openwrt")
readonly PACKAGE SHIM LOGD=/var/log/messages

# An overlay on /usr and /lib for the package's files; the sandbox's mounts inside move onto it.
for dir in /usr /lib; do
    [[ -L $dir ]] && continue
    mapfile -t inside < <(awk -v dir="$dir/" 'index($5, dir) == 1 { print $5 }' /proc/self/mountinfo)
    mkdir -p "$WORK$dir/upper" "$WORK$dir/work" "$WORK$dir/held"
    for i in "${!inside[@]}"; do
        if [[ -d ${inside[i]} ]]; then mkdir "$WORK$dir/held/$i"; else touch "$WORK$dir/held/$i"; fi
        mount --bind "${inside[i]}" "$WORK$dir/held/$i"
    done
    mount -t overlay "openwrt$dir" -o "lowerdir=$dir,upperdir=$WORK$dir/upper,workdir=$WORK$dir/work" "$dir"
    for i in "${!inside[@]}"; do mount --move "$WORK$dir/held/$i" "${inside[i]}"; done
done
install -D "$PACKAGE/files/nimbractl.init" /etc/init.d/nimbractl
install -D -m 644 "$PACKAGE/files/functions.sh" /usr/share/nimbractl/functions.sh
install -D "$PACKAGE/files/nimbra.rpcd" /usr/libexec/rpcd/nimbra
install -D "$SHIM/rc.common" /etc/rc.common
install -D -m 644 "$SHIM/procd.sh" /lib/functions/procd.sh
install -D "$SHIM/logger" /usr/bin/logger
for command in nimbractl nimbra-repair; do ln -sf "$(command -v "$command")" "/usr/sbin/$command"; done
# The LAN, br-lan, comes and goes (a veth: a bridge without ports has no link-local address).
mkdir -p /etc/nimbra && sed 's/^ifnames = .*/ifnames = br-lan/' "$NIMBRA_CONFIG" >/etc/nimbra/nimbra.ini
export NIMBRA_CONFIG=/etc/nimbra/nimbra.ini
lan_up() {
    ip link add br-lan type veth peer name br-lanp && ip link set br-lanp up &&
        ip addr add 192.168.9.1/24 dev br-lan && ip link set br-lan up &&
        eventually has_link_local
}
has_link_local() { ip -6 addr show dev br-lan scope link | grep -q 'inet6 fe80'; }
lan_gone() { ip link del br-lan; }

boot() { rm -f "$RAM_DIR"/*.log && "$SHIM/procd" boot nimbractl; }
init() { "$SHIM/procd" run /etc/init.d/nimbractl "$1"; }
running() { test -e "$STATUS_DIR/nimbra_running"; }
logged() { grep -qE "^nimbractl: $1" "$LOGD"; }
finished() { grep -q finished "$RAM_DIR/check_nimbradb.log" && grep -q finished "$RAM_DIR/resolv_safesearch.log"; }
# rpcd METHOD: the plugin run as rpcd runs it; reply FILTER: its answer holds.
rpcd() {
    local words=(list) && [[ $1 == list ]] || words=(call "$1")
    printf '{ }' | "$SHIM/procd" run /usr/libexec/rpcd/nimbra "${words[@]}" 2>/dev/null >"$WORK/reply"
}
reply() { jq -e "$1" "$WORK/reply" >/dev/null; }
# The plugin's methods are its ACL's; status and version are nimbractl's.
answers() {
    rpcd list && diff <(jq -S keys "$WORK/reply") <(jq -S '.nimbra | [.read, .write][].ubus.nimbra[]' \
        "$PACKAGE/files/nimbra.acl.json" | jq -s sort) &&
        rpcd status && reply ".\"nimbra-running\" == \"$1\"" && rpcd version && reply '."agent-version" | length > 0'
}
runit_counts() { for name in runsvdir runsv svlogd; do pgrep -cx "$name"; done | xargs; }
the_services_own() { [[ $(runit_counts) == "1 10 10" ]] || ! echo "runsvdir runsv svlogd: $(runit_counts)"; }
# The include and the hotplug script, sourced by busybox ash as fw4 and hotplug-call do.
# shellcheck disable=SC2016  # "$1" is the sourcing shell's
include() { /bin/sh -c '. "$1"' sh "$PACKAGE/files/firewall.include" </dev/null; }
# shellcheck disable=SC2016  # "$1" is the sourcing shell's
hotplug() { env INTERFACE=lan DEVICE=br-lan "$@" /bin/sh -c '. "$1"' sh "$PACKAGE/files/nimbractl.hotplug" </dev/null; }
drop_addresses() { ip addr del 10.123.234.1/24 dev br-lan && ip addr del fd22:9464:dfb8::1/64 dev br-lan; }
# Without what a stub daemon forks between its sleeps (named like it).
daemons() {
    ps -eo pid=,ppid=,comm= | awk '{ comm[$1] = $3; parent[$1] = $2 }
        END { for (pid in comm) if (comm[pid] ~ /^(runsvdir|runsv|svlogd|stubd|dnsmasq)$/ && comm[parent[pid]] != "stubd")
            print pid, comm[pid] }' | sort
}
# Nothing logged, and the router and its daemons as the row began.
repaired() { ! grep '^nimbra-repair: ' "$LOGD" && same_state "$WORK/started" && daemons | diff "$WORK/daemons" -; }

# As /etc/init.d/boot applies uci-defaults.
uci_defaults_kept() {
    cp "$PACKAGE/files/nimbractl.uci-defaults" "$WORK/90-nimbractl-firewall"
    (cd "$WORK" && /bin/sh -c '(. ./90-nimbractl-firewall) && rm -f 90-nimbractl-firewall')
    test -e "$WORK/90-nimbractl-firewall"
}
rc_list_finds_all() { [[ $(head -n 11 /etc/init.d/nimbractl | grep -cE '^(START|STOP|USE_PROCD)=') == 3 ]]; }
kept_over_upgrades() {
    diff <(sed -n 's/^\(data\|db\) *= *\([^ ;]*\).*/\2/p' "$PACKAGE/files/nimbra.ini") \
        <(grep -v '^#' "$PACKAGE/files/nimbractl.keep")
}

# shellcheck disable=SC2016  # the rows' shell code expands when it runs
run_rows \
    "no firewall configuration yet: the uci-defaults script stays for the next boot | test ! -e /etc/config/firewall | - | - | - | uci_defaults_kept" \
    "sysupgrade keeps the agent's data | - | - | - | - | kept_over_upgrades" \
    "rpcd's rc list reads START, STOP and USE_PROCD in the first 11 lines | - | - | - | - | rc_list_finds_all" \
    "boot: both helper scripts run to their end | lan_up | - | - | - | boot && eventually finished && all_services_run && eventually logged 'check_nimbradb: .* checked' && eventually logged 'resolv_safesearch: .* resolved'" \
    "rpcd, running; a refused start reaches the log | - | - | - | - | answers true && rpcd start && eventually logged 'Nimbra already running or starting'" \
    "reload puts lost hooks back | iptables -w -t nat -F PREROUTING | - | - | - | init reload && iptables -w -t nat -C PREROUTING -j NIMBRA_NAT && eventually logged 'Nimbra network state repaired\.$'" \
    "rpcd restart: no runit process left over | - | - | - | - | rpcd restart && reply '.\"nimbra-running\" == \"true\"' && { eventually the_services_own >/dev/null || the_services_own; }" \
    "reset: no runit process left over | - | nimbractl reset | 0 | - | eventually all_services_run && { eventually the_services_own >/dev/null || the_services_own; }" \
    "firewall include after a flush | settle $WORK/started && flush_firewall && drop_addresses && daemons >$WORK/daemons | - | - | - | include && repaired" \
    "hotplug: the LAN's addresses changed while up | drop_addresses && daemons >$WORK/daemons | - | - | - | hotplug ACTION=ifupdate IFUPDATE_ADDRESSES=1 && repaired" \
    "hotplug: down, or an update without new addresses | drop_addresses && daemons >$WORK/daemons | - | - | - | hotplug ACTION=ifdown && hotplug ACTION=ifupdate IFUPDATE_DATA=1 && [[ \$(ip addr show dev br-lan) != *10.123.234.1* ]] && nimbra-repair >/dev/null && repaired" \
    "rpcd stop, then the LAN comes up again | - | - | - | - | rpcd stop && reply '.\"nimbra-running\" == \"false\"' && eventually logged 'Nimbra stopped\.$' && \"\$SHIM/procd\" ifup lan && ! running" \
    "rpcd, stopped | - | - | - | - | answers false" \
    "stopped: repair, the include and hotplug start nothing | settle $WORK/stopped | nimbra-repair | 0 | ^Nimbra is not running, nothing to repair$ | include && hotplug ACTION=ifup && same_state $WORK/stopped" \
    "boot before the LAN is up: its trigger starts the agent | lan_gone | - | - | - | boot && ! running && lan_up && \"\$SHIM/procd\" ifup lan && running && eventually all_services_run"
finish
