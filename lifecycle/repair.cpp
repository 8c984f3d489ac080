#include "lifecycle/repair.h"

#include <stdio.h>

#include "firewall/packet_filter.h"
#include "libraries/nimbracfg/nimbrafiles.h"
#include "lifecycle/interfaces.h"
#include "lifecycle/markers.h"
#include "util/files.h"

int repair_agent() {
    if (!file_exists(running_marker_path())) {
        puts("Nimbra is not running, nothing to repair");
        return 0;
    }
    puts("Repairing Nimbra network state ...");
    int result = 0;
    char **ifnames = get_nimbra_ifnames();
    if (ifnames && ifnames[0] && add_redirect_addresses(ifnames[0], true) < 0) result = -1;
    if (repair_packet_filter() < 0) result = -1;
    if (ensure_multicast_route() < 0) result = -1;
    puts(result == 0 ? "Nimbra network state repaired." : "Nimbra network state repaired in part.");
    return result;
}
