// Helpers shared by the unit tests: temporary trees, configuration files,
// the process recorder and one ordered log of what the code under test did.
#ifndef NIMBRA_TESTS_TEST_SUPPORT_H
#define NIMBRA_TESTS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

// Every recorded shell command and vendor call, in order:
// "system: CMD", "popen: CMD", "vendor: TABLE OP CHAIN [RULE] [FAMILY]".
std::vector<std::string> &test_events();

// A fresh directory under /tmp, removed with everything in it at the end.
struct temp_dir {
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;
    std::string path;
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};

// Writes text to path, making missing parent directories first.
void write_text(const std::string &path, const std::string &text);
std::string read_text(const std::string &path);

// Makes each directory (and its parents) under base.
void make_dirs(const std::string &base, std::initializer_list<const char *> dirs);

// Writes text as the configuration file the fake vendor reports, and forgets
// every cached setting so that the next accessor call reads it.
void use_config(const temp_dir &dir, const std::string &text);

// Replaces system() and popen() while it lives: commands are logged to
// test_events(); a popen() gets output[command] (empty when absent), a
// system() returns status[command] (0 when absent).
struct process_recorder {
    process_recorder();
    ~process_recorder();
    process_recorder(const process_recorder &) = delete;
    process_recorder &operator=(const process_recorder &) = delete;
    std::map<std::string, std::string> output;
    std::map<std::string, int> status;
    std::vector<std::string> runs() const;   // system() commands, in order
    std::vector<std::string> reads() const;  // popen() commands, in order
    bool ran(const std::string &command) const;  // among the system() commands
};

// Test events that start with prefix, with the prefix removed.
std::vector<std::string> events_with(const std::string &prefix);

// The events from index from on, comma separated: "table op chain" for a
// vendor call (with its rule when rules is set), "?command" for a read,
// "$" for a shell command.
std::string event_sequence(bool rules = false, size_t from = 0);

// Fixture for code that reads the configuration: a fresh fake vendor and
// recorder before each test, the cached settings forgotten after it.
class agent_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Calls call() with stdout and stderr captured into out and err.
    template <class F>
    auto capture(F call) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        if constexpr (std::is_void_v<decltype(call())>) {
            call();
            collect();
        } else {
            auto result = call();
            collect();
            return result;
        }
    }
    void collect();
    // A "[nimbra_path]" section with base, ramdisk, data, db and log set to
    // base, ram, data, db and log under dir.
    std::string tree_ini() const;
    temp_dir dir;
    process_recorder recorder;
    std::string out, err;
};

#endif
