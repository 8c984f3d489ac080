#include "lifecycle/markers.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "util/files.h"

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

void wait_while_exists(const char *path, const char *line) {
    while (file_exists(path)) {
        puts(line);
        fflush(stdout);
        sleep(1);
    }
}
