// The batch entry point: one iptables-restore per family instead of one
// iptables process per change, and the kernel sees the whole batch at once.
#include "nimbra_vendor.h"

#include <errno.h>
#include <spawn.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// A socket rather than a pipe: send() with MSG_NOSIGNAL fails instead of
// killing the caller with SIGPIPE when the tool exits early.
bool send_all(int fd, const char *text, size_t length) {
    while (length > 0) {
        const ssize_t sent = send(fd, text, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        text += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

}  // namespace

int nimbra_run_iptables_batch(const char *batch, int family) {
    if (!batch) return -1;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    char *argv[] = {const_cast<char *>(family ? "ip6tables-restore" : "iptables-restore"),
                    const_cast<char *>("-w"), const_cast<char *>("--noflush"), nullptr};
    pid_t pid;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (spawned != 0) {
        close(fds[1]);
        return -1;
    }
    const bool sent = send_all(fds[1], batch, strlen(batch));
    close(fds[1]);
    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return sent && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}
