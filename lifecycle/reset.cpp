#include "lifecycle/reset.h"

#include <stdio.h>
#include <unistd.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "lifecycle/markers.h"
#include "lifecycle/services.h"
#include "lifecycle/start.h"
#include "lifecycle/stop.h"
#include "util/process.h"

namespace {

// Entries of the ram directory that hold learned or downloaded state.
const char *const kRamRemovals[] = {
    "localization",     "settings",     "status",       "tracking",
    "upload",           "userinfo",     "MAC",          "nimbra-queue.bin",
    "dnscache.bin",     "iplist",       "mmap_customs", "mmap_devices",
    "provisioning.lock", "tid_debug.txt", "tracking_watchdog.log", "urls.tmp",
};

// Directories whose contents go; dot files stay, as the shell glob skips them.
struct emptied_directory {
    const char *key;  // the setting the directory comes from, for messages
    const char *(*path)();
};

const char *tracking_dir() { return nimbra_file(SLOT_TRACKING); }
const char *category_data_dir() { return nimbra_file(SLOT_CATEGORY_DATA); }

const emptied_directory kEmptied[] = {
    {"nimbra_path.data", get_nimbra_data_path},
    {"nimbra_path.ramdisk", tracking_dir},
    {"nimbra_path.db", get_nimbra_db_path},
    {"nimbra_path.ramdisk", category_data_dir},
};

// A removal built on an empty directory would name paths under "/".
bool configured(const char *directory, const char *key) {
    if (directory && *directory) return true;
    fprintf(stderr, "%s is not set: its files are not removed\n", key);
    return false;
}

void remove_agent_data() {
    for (const emptied_directory &dir : kEmptied) {
        const char *path = dir.path();
        if (configured(path, dir.key)) run_shellf("rm -rf %s/*", path);
    }
    const char *log = get_nimbra_log_path();
    bool have_log = configured(log, "nimbra_path.log");
    for (const char *const *service = kAgentServices; *service; ++service) {
        if (have_log) run_shellf("rm -rf %s/%s/", log, *service);
        run_shellf("rm -rf /var/service/%s", *service);
    }
    const char *ram = get_nimbra_ramdisk_path();
    if (!configured(ram, "nimbra_path.ramdisk")) return;
    for (const char *name : kRamRemovals) run_shellf("rm -rf %s/%s", ram, name);
}

}  // namespace

int factory_reset() {
    puts("Resetting Nimbra ...");
    wait_while_exists(starting_marker_path(), "waiting for nimbra agent finishing startup...");
    const char *resetting = resetting_marker_path();
    // Taken exclusively: of two resets launched together only one goes on.
    if (claim_marker(resetting) == 1) {
        puts("nimbra agent is resetting, no op");
        return 0;
    }
    const bool was_running = access(running_marker_path(), F_OK) == 0;
    if (stop_agent() < 0) {
        fputs("Failed stopping Nimbra-Agent\n", stderr);
        unlink(resetting);
        return 0;
    }
    wait_while_exists(running_marker_path(), "waiting for nimbra to stop");
    remove_agent_data();
    sleep(3);
    if (was_running && start_agent() < 0) fputs("Failed starting Nimbra-Agent\n", stderr);
    unlink(resetting);
    return 0;
}
