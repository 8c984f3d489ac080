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
    // A FIFO without a writer reads as empty instead of blocking.
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    EXPECT_EQ(read_file((dir / "fifo").c_str(), buffer, sizeof(buffer)), 0);
}

TEST(touch_and_write, touch_keeps_what_write_replaces) {
    temp_dir dir;
    const std::string path = dir / "f";
    write_text(path, "a much longer earlier text");
    EXPECT_EQ(touch_file(path.c_str()), 0);
    EXPECT_EQ(read_text(path), "a much longer earlier text");
    EXPECT_EQ(touch_file((dir / "new").c_str()), 0);
    EXPECT_EQ(file_exists((dir / "new").c_str()), 1);
    EXPECT_EQ(touch_file((dir / "no/such/dir").c_str()), -1);
    EXPECT_EQ(write_file_string(path.c_str(), "short"), 5);
    EXPECT_EQ(read_text(path), "short");
    EXPECT_EQ(write_file_string((dir / "no/dir").c_str(), "x"), -5);
    EXPECT_EQ(write_file(nullptr, "x", 1), -22);
}

TEST(command_output_contains, searches_each_511_character_read) {
    EXPECT_EQ(run_shellf("exit %d", 1), 256);  // the raw system() status
    EXPECT_EQ(command_output_contains("printf 'a\\n -A FORWARD -j X\\n'", " FORWARD -j X"), 1);
    EXPECT_EQ(command_output_contains("nimbra-no-such-command 2>/dev/null", "x"), 0);
    // 505 characters, then the needle across the 511-character boundary.
    EXPECT_EQ(command_output_contains("printf '%0505d-needle\\n' 0", "-needle"), 0);
    EXPECT_EQ(command_output_contains("printf '%0500d-needle\\n' 0", "-needle"), 1);
}

}  // namespace
