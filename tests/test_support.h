// The unit tests' fixture: the process recorder and its ordered event log.
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

// "system: CMD", "popen: CMD", "vendor: TABLE OP CHAIN [RULE] [FAMILY]",
// "sleep: SECONDS" (sleep() returns at once), in order.
std::vector<std::string> &test_events();

// While it lives, system() returns status[command], else run(command), else
// 0; popen() reads output[command], else answer(command).
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

// Called by each sleep().
std::function<void()> &on_sleep();

// What fopen("/proc/net/if_inet6") reads while it is not empty.
std::string &if_inet6_fixture();

// text becomes the configuration the fake vendor names, read afresh.
void use_config(const temp_dir &dir, const std::string &text);

// A fresh fake vendor, event log and recorder; PATH and LD_LIBRARY_PATH restored after.
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
    // "[nimbra_path]" with base, ramdisk (ram), data, db and log under dir.
    std::string tree_ini() const;
    temp_dir dir;
    process_recorder recorder;
    std::string out, err;

private:
    std::optional<std::string> saved_paths_[2];
};

#endif
