#include "util/files.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include "tests/temp_dir.h"
#include "util/process.h"

namespace {

TEST(files, read_cuts_to_the_buffer_and_write_replaces_what_touch_keeps) {
    temp_dir dir;
    const std::string path = dir / "f";
    write_text(path, std::string(100, 'x'));
    char buffer[64];
    EXPECT_EQ(read_file(path.c_str(), buffer, sizeof(buffer)), 63);
    EXPECT_EQ(strlen(buffer), 63u);
    EXPECT_EQ(read_file((dir / "missing").c_str(), buffer, sizeof(buffer)), -EIO);
    EXPECT_EQ(read_file(path.c_str(), buffer, 0), -EINVAL);
    // A FIFO without a writer reads as empty instead of blocking.
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    EXPECT_EQ(read_file((dir / "fifo").c_str(), buffer, sizeof(buffer)), 0);
    EXPECT_EQ(touch_file(path.c_str()), 0);
    EXPECT_EQ(read_text(path), std::string(100, 'x'));
    EXPECT_EQ(write_file_string(path.c_str(), "short"), 5);
    EXPECT_EQ(read_text(path), "short");
    EXPECT_EQ(touch_file((dir / "new").c_str()), 0);
    EXPECT_EQ(file_exists((dir / "new").c_str()), 1);
    EXPECT_EQ(touch_file((dir / "no/such/dir").c_str()), -1);
    EXPECT_EQ(write_file_string((dir / "no/dir").c_str(), "x"), -EIO);
}

TEST(mkdir_recursive, creates_missing_levels) {
    temp_dir dir;
    EXPECT_EQ(mkdir_recursive((dir / "a/b/c/").c_str(), 0755), 0);
    EXPECT_EQ(is_directory((dir / "a/b/c").c_str()), 1);
    EXPECT_EQ(mkdir_recursive((dir / "a/b/c").c_str(), 0755), -1);
    EXPECT_EQ(mkdir_recursive("", 0755), -1);
    EXPECT_EQ(mkdir_recursive(nullptr, 0755), -EINVAL);
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
