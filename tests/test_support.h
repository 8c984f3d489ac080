// The unit tests' fixture: the process recorder, one ordered log of what the
// code under test did, and the configuration the fake vendor reports.
#ifndef NIMBRA_TESTS_TEST_SUPPORT_H
#define NIMBRA_TESTS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/temp_dir.h"

// Every recorded shell command, vendor call and sleep, in order:
// "system: CMD", "popen: CMD", "vendor: TABLE OP CHAIN [RULE] [FAMILY]",
// "sleep: SECONDS" (sleep() returns at once).
std::vector<std::string> &test_events();
// The events that start with prefix, with the prefix removed.
std::vector<std::string> events_with(const std::string &prefix);

// Replaces system() (which returns status[command], else run(command) when
// set, else 0) and popen() (which reads output[command], else answer(command)
// when set) while it lives, logging each command to test_events().
struct process_recorder {
    process_recorder();
    ~process_recorder();
    process_recorder(const process_recorder &) = delete;
    process_recorder &operator=(const process_recorder &) = delete;
    std::map<std::string, std::string> output;
    std::map<std::string, int> status;
    std::function<int(const std::string &)> run;
    std::function<std::string(const std::string &)> answer;
    std::deque<std::string> answers;
    int open_streams = 0;  // opened and not yet closed
};

// Called by each sleep(); none in a fresh agent_test.
std::function<void()> &on_sleep();

// What fopen("/proc/net/if_inet6") reads while it is not empty, so that a
// test names the link-local addresses whatever the host has.
std::string &if_inet6_fixture();

// Makes text the configuration file the fake vendor names, and forgets every
// cached setting so that the next accessor call reads it.
void use_config(const temp_dir &dir, const std::string &text);

// A fresh fake vendor, event log and recorder for each test; afterwards the
// cached settings are forgotten and PATH and LD_LIBRARY_PATH restored.
class agent_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // call() with stdout and stderr captured into out and err.
    template <class F>
    auto capture(F call) {
        struct collector {
            agent_test *test;
            ~collector() {
                test->out = testing::internal::GetCapturedStdout();
                test->err = testing::internal::GetCapturedStderr();
            }
        };
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        collector collect{this};
        return call();
    }
    // "[nimbra_path]" with base, ramdisk, data, db and log at base, ram,
    // data, db and log under dir.
    std::string tree_ini() const;
    temp_dir dir;
    process_recorder recorder;
    std::string out, err;

private:
    std::optional<std::string> saved_paths_[2];
};

#endif
