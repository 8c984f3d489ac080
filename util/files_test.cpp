#include "util/files.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include "tests/test_support.h"
#include "util/process.h"

namespace {

TEST(read_file, cuts_to_buffer_and_reports_errors) {
    temp_dir dir;
    write_text(dir / "f", std::string(100, 'x'));
    char buffer[64];
    EXPECT_EQ(read_file((dir / "f").c_str(), buffer, sizeof(buffer)), 63);
    EXPECT_EQ(strlen(buffer), 63u);
    EXPECT_EQ(read_file((dir / "missing").c_str(), buffer, sizeof(buffer)), -5);
    EXPECT_EQ(read_file(nullptr, buffer, sizeof(buffer)), -22);
    EXPECT_EQ(read_file((dir / "f").c_str(), buffer, 0), -22);
}

TEST(touch_file, keeps_existing_contents_and_time) {
    temp_dir dir;
    const std::string path = dir / "f";
    write_text(path, "keep");
    struct stat before, after;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    EXPECT_EQ(touch_file(path.c_str()), 0);
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(read_text(path), "keep");
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(touch_file((dir / "new").c_str()), 0);
    EXPECT_EQ(file_exists((dir / "new").c_str()), 1);
    EXPECT_EQ(touch_file((dir / "no/such/dir").c_str()), -1);
}

TEST(write_file_string, replaces_contents_exactly) {
    temp_dir dir;
    const std::string path = dir / "f";
    write_text(path, "a much longer earlier text");
    EXPECT_EQ(write_file_string(path.c_str(), "short"), 5);
    EXPECT_EQ(read_text(path), "short");
    EXPECT_EQ(write_file_string((dir / "no/dir").c_str(), "x"), -5);
    EXPECT_EQ(write_file(nullptr, "x", 1), -22);
}

TEST(run_shellf, returns_raw_system_status) {
    EXPECT_EQ(run_shellf("exit %d", 1), 256);
    EXPECT_EQ(run_shellf("%s", "true"), 0);
}

TEST(command_output_contains, searches_each_read) {
    EXPECT_EQ(command_output_contains("printf 'a\\n -A FORWARD -j X\\n'", " FORWARD -j X"), 1);
    EXPECT_EQ(command_output_contains("true", "x"), 0);
    EXPECT_EQ(command_output_contains("nimbra-no-such-command 2>/dev/null", "x"), 0);
    // 505 characters, then the needle across the 511-character boundary.
    std::string split = "printf '%0505d-needle\\n' 0";
    EXPECT_EQ(command_output_contains(split.c_str(), "-needle"), 0);
    EXPECT_EQ(command_output_contains("printf '%0500d-needle\\n' 0", "-needle"), 1);
}

TEST(run_command_list, echoes_then_runs_each) {
    process_recorder recorder;
    const char *const commands[] = {"echo a", "echo b", nullptr};
    testing::internal::CaptureStdout();
    run_command_list(commands);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "--> echo a\n--> echo b\n");
    EXPECT_EQ(recorder.runs(), (std::vector<std::string>{"echo a", "echo b"}));
}

TEST(print_env_var, pads_name_to_30_columns) {
    setenv("NIMBRA_TEST_VAR", "v", 1);
    testing::internal::CaptureStdout();
    print_env_var("NIMBRA_TEST_VAR");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "NIMBRA_TEST_VAR               : v\n");
    unsetenv("NIMBRA_TEST_VAR");
}

}  // namespace
