#include "util/signals.h"

#include <signal.h>
#include <unistd.h>

#include <iterator>

namespace {

const int kFatalSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM};

// The paths to remove, innermost last (a reset's marker, then that of the
// start it runs).
constexpr size_t kMaxPaths = 2;
const char *volatile g_remove_on_signal[kMaxPaths];
volatile size_t g_paths;
struct sigaction g_before[std::size(kFatalSignals)];

void drop_signal(int) {}

void remove_then_die(int signal_number) {
    for (size_t i = 0; i < g_paths; ++i) unlink(g_remove_on_signal[i]);
    // Blocked until the handler returns, then delivered with the default.
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// A signal ignored when we were started (nohup, a background job's SIGINT)
// stays ignored, for us and for what we start.
void catch_signal(int signal_number, void (*handler)(int), struct sigaction *before = nullptr) {
    struct sigaction current;
    if (!before) before = &current;
    if (sigaction(signal_number, nullptr, before) != 0 || before->sa_handler == SIG_IGN) return;
    struct sigaction action = {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

}  // namespace

void outlive_hangup() {
    catch_signal(SIGHUP, drop_signal);
    catch_signal(SIGPIPE, drop_signal);
}

void remove_on_fatal_signal(const char *path) {
    if (g_paths == kMaxPaths) return;
    g_remove_on_signal[g_paths] = path;
    g_paths = g_paths + 1;
    if (g_paths > 1) return;
    for (size_t i = 0; i < std::size(kFatalSignals); ++i)
        catch_signal(kFatalSignals[i], remove_then_die, &g_before[i]);
}

void forget_on_fatal_signal() {
    if (g_paths == 0) return;
    g_paths = g_paths - 1;
    if (g_paths > 0) return;
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) sigaction(kFatalSignals[i], &g_before[i], nullptr);
}

void sleep_fully(unsigned seconds) {
    while (seconds > 0) seconds = sleep(seconds);
}
