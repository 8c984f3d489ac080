// Runs the packet-filter part of start or stop on its own, with the real
// vendor library, so that the resulting kernel state can be checked without
// the rest of the agent. Test-only; not part of nimbractl.
//
//   firewall_harness start   chains, sets, teardown, IPv4 and IPv6 rules
//   firewall_harness stop    teardown and set destruction
//
// Prints on stderr how many listings and shell commands it ran.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "firewall/packet_filter.h"
#include "util/process.h"

namespace {

int g_listings;
int g_commands;

int counting_run(const char *command) {
    ++g_commands;
    fflush(stdout);
    return system(command);
}

FILE *counting_open(const char *command) {
    ++g_listings;
    fflush(stdout);
    return popen(command, "r");
}

const process_runner kCountingRunner = {counting_run, counting_open, pclose};

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2 || (strcmp(argv[1], "start") != 0 && strcmp(argv[1], "stop") != 0)) {
        fputs("usage: firewall_harness start|stop\n", stderr);
        return 2;
    }
    set_process_runner(&kCountingRunner);
    if (strcmp(argv[1], "start") == 0)
        install_packet_filter();
    else
        remove_packet_filter();
    fflush(stdout);
    fprintf(stderr, "listings: %d\ncommands: %d\n", g_listings, g_commands);
    return 0;
}
