# shellcheck shell=sh
#
# Shell functions of the Nimbra agent's init script and rpcd plugin
# (/usr/share/nimbractl/functions.sh). Sourced, so: definitions only.

NIMBRACTL=/usr/sbin/nimbractl

# nimbractl_logged COMMAND [ARG...]: runs COMMAND with its output going to
# logd (tag nimbractl) and returns its status. `nimbractl start` leaves
# check_nimbradb.sh and resolv_safesearch.sh running in the background with
# the output they inherited. Handed the caller's own output, a pipe that
# procd (for a boot-time script) or rpcd (for a plugin) closes when the
# caller ends, they would die of SIGPIPE at their next write; a plain
# `| logger` would make the caller wait for them instead. A FIFO read by a
# logger of its own outlives the caller and ends when they have finished.
nimbractl_logged() {
	nimbractl_fifo=$(mktemp -d -t nimbractl.XXXXXX) || return 1
	if ! mkfifo "$nimbractl_fifo/output"; then
		rm -rf "$nimbractl_fifo"
		return 1
	fi
	logger -t nimbractl <"$nimbractl_fifo/output" >/dev/null 2>&1 &
	"$@" </dev/null >"$nimbractl_fifo/output" 2>&1
	nimbractl_status=$?
	# Both ends are open now: the name is no longer needed.
	rm -rf "$nimbractl_fifo"
	return "$nimbractl_status"
}

# Whether the agent runs: `nimbractl start` reports a failed start in its
# output, not in its exit status.
nimbractl_running() {
	"$NIMBRACTL" status -j 2>/dev/null | grep -q '"nimbra-running":"true"'
}
