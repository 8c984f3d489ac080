#include "lifecycle/markers.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "util/files.h"
#include "util/lock_file.h"

const char *status_dir_path() { return nimbra_file(SLOT_STATUS_DIR); }
const char *running_marker_path() { return nimbra_file(SLOT_RUNNING); }
const char *starting_marker_path() { return nimbra_file(SLOT_STARTING); }
const char *resetting_marker_path() { return nimbra_file(SLOT_RESETTING); }

int claim_marker(const char *path) {
    int fd = open(path, O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EEXIST ? 1 : -1;
    close(fd);
    return 0;
}

void wait_while_exists(const char *path, const char *line, unsigned max_seconds) {
    for (unsigned waited = 0; waited < max_seconds && file_exists(path); ++waited) {
        puts(line);
        fflush(stdout);
        sleep(1);
    }
}

const char *lifecycle_lock_path() {
    static char path[PATH_MAX];
    // Composed anew each time: the ram directory is the configuration's of
    // the moment (a test binary reads many).
    const char *ram = get_nimbra_ramdisk_path();
    path[0] = '\0';
    if (ram && *ram) snprintf(path, sizeof(path), "%s/nimbra_lifecycle.lock", ram);
    return path;
}

int open_lifecycle_lock() {
    const char *path = lifecycle_lock_path();
    if (!*path) return -1;
    const int lock = lock_file_create(path);
    // Without a ram directory there is no agent state to keep apart.
    if (lock < 0 && errno != ENOENT)
        fprintf(stderr, "Can't open %s, going on without it: %s\n", path, strerror(errno));
    return lock;
}

void say_lock_wait() {
    fprintf(stderr, "waiting for another nimbractl run to finish (%s)\n", lifecycle_lock_path());
}

int take_lifecycle_lock() {
    const int lock = open_lifecycle_lock();
    if (lock >= 0 && !lock_file_try(lock)) {
        say_lock_wait();
        lock_file_wait(lock);
    }
    return lock;
}

void release_lifecycle_lock(int lock) { lock_file_close(lock); }
