#include "util/lock_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

int lock_file_create(const char *path) {
    return open(path ? path : "", O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
}

bool lock_file_try(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

void lock_file_wait(int fd) {
    int result;
    do {
        result = flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
}

int lock_file_open(const char *path) {
    int fd = lock_file_create(path);
    if (fd < 0) {
        perror("open");
        return -1;
    }
    // Anything but a signal leaves the caller unlocked, as when the file
    // cannot be opened.
    lock_file_wait(fd);
    return fd;
}

void lock_file_close(int fd) {
    if (fd < 0) return;
    flock(fd, LOCK_UN);
    close(fd);
}
