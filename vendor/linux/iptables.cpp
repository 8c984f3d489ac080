// Firewall commands run iptables/ip6tables directly: a shell would double
// the cost of every rule. "-w" waits for the xtables lock instead of
// failing when the router's own firewall is busy.
#include "nimbra_vendor.h"

#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

extern char **environ;

namespace {

constexpr size_t kMaxRule = 1024;
constexpr size_t kMaxArgs = 8 + kMaxRule / 2;

}  // namespace

int nimbra_run_iptables_command(const char *table, const char *operation,
                                const char *chain, const char *rule, int family) {
    if (!table || !operation || !chain) return -1;

    char words[kMaxRule];
    snprintf(words, sizeof(words), "%s", rule ? rule : "");

    char *argv[kMaxArgs];
    size_t argc = 0;
    argv[argc++] = const_cast<char *>(family ? "ip6tables" : "iptables");
    argv[argc++] = const_cast<char *>("-w");
    argv[argc++] = const_cast<char *>("-t");
    argv[argc++] = const_cast<char *>(table);
    argv[argc++] = const_cast<char *>(operation);
    argv[argc++] = const_cast<char *>(chain);
    char *save = nullptr;
    for (char *word = strtok_r(words, " \t", &save); word && argc < kMaxArgs - 1;
         word = strtok_r(nullptr, " \t", &save))
        argv[argc++] = word;
    argv[argc] = nullptr;

    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) return -1;
    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}
