#include "util/signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "tests/temp_dir.h"

namespace {

// In a child: SIGHUP is caught (not ignored) and dropped, SIGPIPE ignored
// by whoever started us stays ignored; then SIGTERM removes the paths still
// registered (the inner one was forgotten) and ends the child as SIGTERM.
TEST(signals, hangup_is_outlived_and_a_fatal_signal_removes_the_registered_paths) {
    temp_dir dir;
    const std::string outer = dir / "outer", inner = dir / "inner";
    write_text(outer, "");
    write_text(inner, "");
    EXPECT_EXIT(
        {
            signal(SIGPIPE, SIG_IGN);
            outlive_hangup();
            struct sigaction hup;
            struct sigaction pipe;
            sigaction(SIGHUP, nullptr, &hup);
            sigaction(SIGPIPE, nullptr, &pipe);
            raise(SIGHUP);
            remove_on_fatal_signal(outer.c_str());
            remove_on_fatal_signal(inner.c_str());
            forget_on_fatal_signal();
            raise(hup.sa_handler != SIG_IGN && pipe.sa_handler == SIG_IGN ? SIGTERM : SIGKILL);
            _exit(0);
        },
        testing::KilledBySignal(SIGTERM), "");
    EXPECT_FALSE(std::filesystem::exists(outer));
    EXPECT_TRUE(std::filesystem::exists(inner));
}

}  // namespace
