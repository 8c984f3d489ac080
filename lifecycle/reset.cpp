#include "lifecycle/reset.h"

#include <stdio.h>
#include <unistd.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "lifecycle/install_guard.h"
#include "lifecycle/markers.h"
#include "lifecycle/services.h"
#include "lifecycle/start.h"
#include "lifecycle/stop.h"
#include "util/files.h"
#include "util/lock_file.h"
#include "util/process.h"
#include "util/signals.h"

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
        if (configured(path, dir.key) && !holds_install(path, dir.key)) run_shellf("rm -rf %s/*", path);
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

// Waits for the lifecycle lock (-1: there is none to wait for). Polled, so
// that a reset holding it, which shows by its marker, is told apart from
// any other run: false then, and this reset does nothing. A start holding
// it is waited for as the agent finishing its startup.
bool wait_for_turn(int lock) {
    if (lock < 0 || lock_file_try(lock)) return true;
    say_lock_wait();
    do {
        if (file_exists(resetting_marker_path())) return false;
        if (file_exists(starting_marker_path())) {
            puts("waiting for nimbra agent finishing startup...");
            fflush(stdout);
        }
        sleep(1);
    } while (!lock_file_try(lock));
    return true;
}

// With the lifecycle lock and the resetting marker taken. A starting
// marker found now was left by a start that died: one in progress would
// hold the lock.
void reset_under_lock() {
    const char *resetting = resetting_marker_path();
    remove_on_fatal_signal(resetting);
    const bool was_running = access(running_marker_path(), F_OK) == 0;
    if (stop_agent() < 0) {
        fputs("Failed stopping Nimbra-Agent\n", stderr);
        unlink(resetting);
        forget_on_fatal_signal();
        return;
    }
    wait_while_exists(running_marker_path(), "waiting for nimbra to stop", kMarkerWaitSeconds);
    remove_agent_data();
    sleep_fully(3);
    if (was_running && start_agent() < 0) fputs("Failed starting Nimbra-Agent\n", stderr);
    unlink(resetting);
    forget_on_fatal_signal();
}

}  // namespace

int factory_reset() {
    puts("Resetting Nimbra ...");
    const int lock = open_lifecycle_lock();
    // A marker that a reset could not remove (killed with SIGKILL) still
    // holds resets off, until it is removed by hand.
    if (wait_for_turn(lock) && claim_marker(resetting_marker_path()) != 1)
        reset_under_lock();
    else
        puts("nimbra agent is resetting, no op");
    release_lifecycle_lock(lock);
    return 0;
}
