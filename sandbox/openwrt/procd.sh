# shellcheck shell=sh
# A stand-in for procd's /lib/functions/procd.sh in the sandbox router: a
# service that rc.common starts is registered with its interface triggers
# in a file of its own, /var/run/procd/SERVICE (one trigger a line: event,
# interface, command), which procd_kill removes as procd deletes the
# service. `procd ifup INTERFACE` (beside this file) runs the triggers.
PROCD_SERVICES=/var/run/procd

procd_open_service() {
	procd_service=$1
	mkdir -p "$PROCD_SERVICES" && : >"$PROCD_SERVICES/.$procd_service"
}
procd_add_interface_trigger() {
	echo "$*" >>"$PROCD_SERVICES/.$procd_service"
}
procd_close_service() {
	service_triggers
	mv "$PROCD_SERVICES/.$procd_service" "$PROCD_SERVICES/$procd_service"
}
procd_kill() {
	rm -f "$PROCD_SERVICES/$1"
}
