#include "nimbractl/dispatch.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "lifecycle/markers.h"
#include "lifecycle/repair.h"
#include "lifecycle/start.h"
#include "lifecycle/stop.h"
#include "nimbractl/environment.h"
#include "lifecycle/reset.h"
#include "pfc/conformance.h"
#include "report/status.h"
#include "report/version.h"
#include "util/files.h"
#include "util/signals.h"

const char kRepairProgram[] = "nimbra-repair";

namespace {

const char kRepairUsage[] =
    "nimbra-repair: put back the running Nimbra agent's bridge addresses, routes, IP sets and\n"
    "packet filter where they are missing, without restarting its services";

int export_failed() {
    fputs("Error while setting Nimbra environment variables\n", stderr);
    return 1;
}

const char *const kUsage[] = {
    "nimbractl <command>",
    "-------------------------------------------------",
    "  start: configure and start nimbra services",
    "  stop: stop nimbra services",
    "  restart: clear and restart nimbra services",
    "  status: print nimbra status report",
    "  status -j: print nimbra status report in JSON format",
    "  reset: factory reset to defaults",
    "  pfc: configure and start nimbra services with pre-flight checks",
    "  version: print Nimbra version info",
    "  version -j: print Nimbra version info in JSON format",
    "-------------------------------------------------",
};

int print_usage() {
    for (const char *line : kUsage) puts(line);
    return 1;
}

// The commands that change the agent's state run to their end, one at a
// time (lifecycle/markers.h).
void run_locked(int (*operation)()) {
    outlive_hangup();
    const int lock = take_lifecycle_lock();
    operation();
    release_lifecycle_lock(lock);
}

void run_start(int) { run_locked(start_agent); }
void run_stop(int) { run_locked(stop_agent); }
// The reset takes the lock itself: it must tell a reset that holds it
// from anybody else.
void run_reset(int) {
    outlive_hangup();
    factory_reset();
}

// Under the lock only this run's stop removes the running marker: the wait
// is for nothing else, so it ends when the marker cannot be removed.
int restart() {
    stop_agent();
    wait_while_exists(running_marker_path(), "waiting for nimbra to stop", kMarkerWaitSeconds);
    return start_agent();
}
void run_restart(int) { run_locked(restart); }

void run_pfc(int) {
    set_report_level(kLogLevel);
    if (run_conformance_tests() != 0) {
        puts("Nimbra Agent not started, pre-flight check failed!");
        return;
    }
    run_locked(start_agent);
}

struct command_word {
    const char *word;
    void (*run)(int json);  // nullptr: the usage text
};

const command_word kCommands[] = {
    {"-h", nullptr},         {"help", nullptr},        {"start", run_start},
    {"stop", run_stop},      {"restart", run_restart}, {"status", print_status},
    {"reset", run_reset},    {"version", print_version}, {"pfc", run_pfc},
};

// Only argv[2] selects the JSON form; anything after it is ignored.
int json_flag(int argc, char **argv) {
    return argc > 2 && strcasecmp(argv[2], "-j") == 0;
}

}  // namespace

int nimbractl_main(int argc, char **argv) {
    if (export_environment() < 0) return export_failed();
    mkdir_recursive(get_nimbra_ramdisk_path(), 0755);
    if (argc <= 1) return print_usage();
    for (const command_word &command : kCommands) {
        if (strcmp(argv[1], command.word) != 0) continue;
        if (!command.run) return print_usage();
        command.run(json_flag(argc, argv));
        return 0;
    }
    return print_usage();
}

int nimbra_repair_main(int argc, char **) {
    if (argc > 1) {
        puts(kRepairUsage);
        return 1;
    }
    if (export_environment() < 0) return export_failed();
    outlive_hangup();
    const int lock = take_lifecycle_lock();
    const int result = repair_agent();
    release_lifecycle_lock(lock);
    return result < 0 ? 1 : 0;
}
