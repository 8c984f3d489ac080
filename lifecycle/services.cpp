#include "lifecycle/services.h"

#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "util/files.h"

const char *const kAgentServices[kAgentServiceCount + 1] = {
    "apid",      "configd", "dnsmasq",     "ipaddr_manager", "iplistd", "ipsetd",
    "pingpongd", "rclient", "timetracker", "webd",           nullptr,
};

namespace {

const char kServiceTree[] = "/var/service";
const char *const kSupervisors[] = {"runsvdir", "runsv", "svlogd"};
constexpr unsigned kPollMs = 20;

// A supervisor whose working directory is the tree or below it, removed or
// not ("/var/service/apid (deleted)"): after the tree's name comes the end,
// a "/" or a " ".
bool supervises_tree(const char *pid) {
    char path[64], text[PATH_MAX];
    snprintf(path, sizeof(path), "/proc/%s/comm", pid);
    if (read_file(path, text, sizeof(text)) <= 0) return false;
    text[strcspn(text, "\n")] = '\0';
    bool supervisor = false;
    for (const char *name : kSupervisors) supervisor = supervisor || strcmp(text, name) == 0;
    if (!supervisor) return false;
    snprintf(path, sizeof(path), "/proc/%s/cwd", pid);
    const ssize_t length = readlink(path, text, sizeof(text) - 1);
    if (length < 0) return false;
    text[length] = '\0';
    const size_t tree = strlen(kServiceTree);
    return strncmp(text, kServiceTree, tree) == 0 && strchr("/ ", text[tree]);
}

bool supervisors_left() {
    DIR *proc = opendir("/proc");
    if (!proc) return false;
    bool found = false;
    for (const dirent *entry; !found && (entry = readdir(proc));)
        found = entry->d_name[0] >= '1' && entry->d_name[0] <= '9' && supervises_tree(entry->d_name);
    closedir(proc);
    return found;
}

}  // namespace

bool wait_for_supervision_exit() {
    const timespec poll = {0, kPollMs * 1000 * 1000L};
    for (unsigned waited = 0; supervisors_left(); waited += kPollMs) {
        if (waited >= kSupervisionExitMs) return false;
        nanosleep(&poll, nullptr);
    }
    return true;
}
