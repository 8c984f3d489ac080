#include "util/files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int file_exists(const char *path) {
    struct stat st;
    return path && stat(path, &st) == 0;
}

int file_has_data(const char *path) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

int is_directory(const char *path) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int touch_file(const char *path) {
    int fd = open(path, O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    close(fd);
    return 0;
}

int read_file(const char *path, char *buffer, size_t size) {
    if (!path || !buffer || size == 0) return -EINVAL;
    // Non-blocking: a FIFO left where a status file belongs would otherwise
    // wait for a writer forever. Regular files read as usual.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -EIO;
    size_t n = 0;
    while (n < size - 1) {
        ssize_t got = read(fd, buffer + n, size - 1 - n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        n += static_cast<size_t>(got);
    }
    buffer[n] = '\0';
    close(fd);
    return static_cast<int>(n);
}

int write_file(const char *path, const void *data, size_t count) {
    if (!path || !data) return -EINVAL;
    char *temporary = nullptr;
    if (asprintf(&temporary, "%s.XXXXXX", path) < 0) return -ENOMEM;
    const int fd = mkostemp(temporary, O_CLOEXEC);
    if (fd < 0) {
        free(temporary);
        return -EIO;
    }
    fchmod(fd, 0644);
    size_t n = 0;
    while (n < count) {
        const ssize_t wrote = write(fd, static_cast<const char *>(data) + n, count - n);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) break;
        n += static_cast<size_t>(wrote);
    }
    const bool whole = n == count && fsync(fd) == 0;
    close(fd);
    const bool landed = whole && rename(temporary, path) == 0;
    if (!landed) unlink(temporary);
    free(temporary);
    return landed || !whole ? static_cast<int>(n) : -EIO;
}

int write_file_string(const char *path, const char *text) {
    if (!text) return -EINVAL;
    return write_file(path, text, strlen(text));
}

int mkdir_recursive(const char *path, mode_t mode) {
    if (!path) return -EINVAL;
    char *copy = strdup(path);
    if (!copy) return -ENOMEM;
    size_t len = strlen(copy);
    if (len > 0 && copy[len - 1] == '/') copy[len - 1] = '\0';
    // Skip the first character (a leading "/") or two (a leading "./").
    char *p = copy + (copy[0] == '.' ? 2 : 1);
    if (p > copy + strlen(copy)) p = copy + strlen(copy);
    for (; *p; ++p) {
        if (*p != '/') continue;
        *p = '\0';
        mkdir(copy, mode);
        *p = '/';
    }
    int result = mkdir(copy, mode);
    free(copy);
    return result;
}
