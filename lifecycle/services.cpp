#include "lifecycle/services.h"

#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "util/files.h"

const char *const kAgentServices[kAgentServiceCount + 1] = {
    "apid",      "configd", "dnsmasq",     "ipaddr_manager", "iplistd", "ipsetd",
    "pingpongd", "rclient", "timetracker", "webd",           nullptr,
};

namespace {

// The tree is /var/service; the kernel names a working directory by its
// real path, and /var is a link to /tmp on OpenWrt.
const char kServiceParent[] = "/var";
const char kServiceName[] = "/service";
const char *const kSupervisors[] = {"runsvdir", "runsv", "svlogd"};
constexpr unsigned kPollMs = 20;

// A supervisor whose working directory is TREE or below it, removed or not
// ("/tmp/service/apid (deleted)"): after the tree's name comes the end, a
// "/" or a " ".
bool supervises_tree(const char *pid, const char *tree) {
    char path[sizeof("/proc//comm") + sizeof(dirent::d_name)], text[PATH_MAX];
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
    const size_t length_of_tree = strlen(tree);
    return strncmp(text, tree, length_of_tree) == 0 && strchr("/ ", text[length_of_tree]);
}

bool supervisors_left(const char *tree) {
    DIR *proc = opendir("/proc");
    if (!proc) return false;
    bool found = false;
    for (const dirent *entry; !found && (entry = readdir(proc));)
        found = entry->d_name[0] >= '1' && entry->d_name[0] <= '9' && supervises_tree(entry->d_name, tree);
    closedir(proc);
    return found;
}

}  // namespace

bool wait_for_supervision_exit() {
    // The tree itself is gone by now; its parent stays.
    char tree[PATH_MAX + sizeof(kServiceName)];
    if (!realpath(kServiceParent, tree)) snprintf(tree, sizeof(tree), "%s", kServiceParent);
    strcat(tree, kServiceName);
    const timespec poll = {0, kPollMs * 1000 * 1000L};
    for (unsigned waited = 0; supervisors_left(tree); waited += kPollMs) {
        if (waited >= kSupervisionExitMs) return false;
        nanosleep(&poll, nullptr);
    }
    return true;
}
