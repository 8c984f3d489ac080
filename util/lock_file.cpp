#include "util/lock_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

int lock_file_open(const char *path) {
    int fd = open(path ? path : "", O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        perror("open");
        return -1;
    }
    // A signal may interrupt the wait; anything else leaves the caller
    // unlocked, as when the file cannot be opened.
    int result;
    do {
        result = flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    return fd;
}

void lock_file_close(int fd) {
    if (fd < 0) return;
    flock(fd, LOCK_UN);
    close(fd);
}
