#include "lifecycle/stop.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "firewall/ipv6_rules.h"
#include "firewall/packet_filter.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "lifecycle/install_guard.h"
#include "lifecycle/markers.h"
#include "lifecycle/services.h"
#include "util/files.h"
#include "util/process.h"

namespace {

const char kServiceTreeDir[] = "/var/service";

// Only the first interface was given the alias, address and route.
void release_interface() {
    char **ifnames = get_nimbra_ifnames();
    if (!ifnames || !ifnames[0] || !*ifnames[0]) return;
    const char *ifname = ifnames[0];
    run_shellf("ifconfig %s:0 down", ifname);
    run_shellf("ip addr del %s/64 dev %s", kRedirectIpv6, ifname);
    run_shellf("route del -net 224.0.0.0 netmask 224.0.0.0 %s", ifname);
}

}  // namespace

int stop_agent() {
    puts("Stopping Nimbra services ...");
    run_system("rm -rf /var/service");
    run_system("killall -s SIGHUP runsvdir");
    // The loggers finish writing before their directory goes.
    if (!wait_for_supervision_exit())
        fprintf(stderr, "Agent services still running after %u s\n", kSupervisionExitMs / 1000);
    // A runsv still starting up (a stop right after a start) can put its
    // directory back while rm walks the tree.
    if (file_exists(kServiceTreeDir)) run_system("rm -rf /var/service");
    // Without a log directory there is nothing of ours to remove.
    const char *log = get_nimbra_log_path();
    if (log && *log && !holds_install(log, "nimbra_path.log")) run_shellf("rm -rf %s", log);
    puts("Clean up ...");
    remove_packet_filter();
    release_interface();
    // Left behind, the marker would keep every later start out.
    const char *running = running_marker_path();
    if (unlink(running) != 0 && errno != ENOENT)
        fprintf(stderr, "Can't remove %s: %s\n", running, strerror(errno));
    const char *status_dir = status_dir_path();
    if (*status_dir) run_shellf("rm -rf %s", status_dir);
    puts("Nimbra stopped.");
    return 0;
}
