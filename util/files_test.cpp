#include "util/files.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/temp_dir.h"
#include "util/lock_file.h"

namespace {

// No descriptor is left open (a lock file's either), and a lock file that
// cannot be made is no lock.
TEST(files, read_cuts_to_the_buffer_write_replaces_touch_keeps) {
    const long descriptors = open_descriptors();
    temp_dir dir;
    const std::string path = dir / "f";
    char buffer[64];
    EXPECT_EQ(write_file_string(path.c_str(), std::string(100, 'x').c_str()), 100);
    EXPECT_EQ(touch_file(path.c_str()), 0);
    EXPECT_EQ(read_file(path.c_str(), buffer, sizeof(buffer)), 63);
    EXPECT_EQ(buffer, std::string(63, 'x'));
    EXPECT_EQ(write_file_string(path.c_str(), "short"), 5);
    EXPECT_EQ(read_text(path), "short");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);  // no writer: empty, not blocking
    EXPECT_EQ(read_file((dir / "fifo").c_str(), buffer, sizeof(buffer)), 0);
    EXPECT_EQ(read_file((dir / "missing").c_str(), buffer, sizeof(buffer)), -EIO);
    EXPECT_EQ(read_file(path.c_str(), buffer, 0), -EINVAL);
    EXPECT_EQ(touch_file((dir / "no/f").c_str()), -1);
    EXPECT_EQ(write_file_string((dir / "no/f").c_str(), "x"), -EIO);
    ASSERT_EQ(mkdir((dir / "d").c_str(), 0755), 0);  // not replaced, nothing left beside it
    EXPECT_EQ(write_file_string((dir / "d").c_str(), "x"), -EIO);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 3);
    EXPECT_EQ(mkdir_recursive((dir / "a/b/c/").c_str(), 0755), 0);
    EXPECT_EQ(is_directory((dir / "a/b/c").c_str()), 1);
    EXPECT_EQ(mkdir_recursive((dir / "a/b/c").c_str(), 0755), -1);
    EXPECT_EQ(mkdir_recursive(nullptr, 0755), -EINVAL);
    testing::internal::CaptureStderr();
    EXPECT_EQ(lock_file_open((dir / "no/lock").c_str()), -1);
    testing::internal::GetCapturedStderr();
    errno = EINTR;  // as an earlier interrupted call leaves it: the wait still ends
    lock_file_close(lock_file_open((dir / "lock").c_str()));
    EXPECT_EQ(open_descriptors(), descriptors);
}

}  // namespace
