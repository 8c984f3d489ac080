#!/usr/bin/env bash
# The OpenWrt firewall include, sourced by busybox ash as fw3 does: a stopped
# agent is never started, a firewall rebuild that kept the agent's filter
# restarts nothing, one that flushed it gets the same rule set back.
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

INCLUDE=$(realpath "$(dirname "$0")/../../packaging/openwrt/files/firewall.include")
readonly INCLUDE
# The include calls /usr/sbin/nimbractl and logs through logger: both are
# put in place in this private mount namespace only.
mkdir -p "$WORK/sbin" "$WORK/bin"
cp -a /usr/sbin/. "$WORK/sbin/"
ln -sf "$(realpath "$(command -v nimbractl)")" "$WORK/sbin/nimbractl"
mount --bind "$WORK/sbin" /usr/sbin
printf '#!/bin/sh\nshift 2\n{ [ $# -gt 0 ] && echo "$*"; cat; } >>%s\n' "$WORK/log" >"$WORK/bin/logger"
chmod +x "$WORK/bin/logger"
export PATH=$WORK/bin:$PATH

include() { : >"$WORK/log" && /bin/sh -c '. "$1"' sh "$INCLUDE" </dev/null; }
rules() {
    local table
    for table in filter nat mangle; do iptables -w -t $table -S && ip6tables -w -t $table -S; done
}
flush() { local tables=$'*filter\nCOMMIT\n*nat\nCOMMIT\n*mangle\nCOMMIT'; iptables-restore <<<"$tables" && ip6tables-restore <<<"$tables"; }
running() { [[ $(nimbractl status -j) == *'"nimbra-running":"true"'* ]]; }

run_rows \
    "agent stopped | rules >$WORK/before && include | - | - | - | ! test -s $WORK/log && ! running && diff $WORK/before <(rules)" \
    "filter in place | nimbractl start >/dev/null && eventually all_services_run && rules >$WORK/started && pgrep -x runsvdir >$WORK/runsvdir && include | - | - | - | ! test -s $WORK/log && [[ \$(pgrep -x runsvdir) == \$(<$WORK/runsvdir) ]]" \
    "filter flushed | flush && include | - | - | - | grep -q 'firewall rebuilt' $WORK/log && running && diff $WORK/started <(rules)" \
    "after stop | nimbractl stop >/dev/null && include | - | - | - | ! running"
finish
