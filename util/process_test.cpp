#include "util/process.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include "tests/temp_dir.h"

namespace {

// No descriptor is left open.
TEST(shell_commands, print_after_our_lines_and_are_searched_per_511_characters) {
    const long descriptors = open_descriptors();
    testing::internal::CaptureStdout();
    const int err = dup(STDERR_FILENO);
    dup2(STDOUT_FILENO, STDERR_FILENO);  // a listing's messages join our lines
    printf("ours, ");  // comes out before the command's own output
    EXPECT_EQ(run_shellf("echo %s; exit 1", "theirs"), 256);  // the raw system() status
    printf("then ");
    EXPECT_EQ(command_output_contains("echo said >&2", "x"), 0);
    EXPECT_EQ(print_command_output("echo listed", nullptr), 0);
    dup2(err, STDERR_FILENO);
    close(err);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ours, theirs\nthen said\nlisted\n");
    EXPECT_EQ(command_output_contains("nimbra-no-such-command 2>/dev/null", "x"), 0);
    // 505 or 500 characters, then the needle: across a read's end it is missed.
    EXPECT_EQ(command_output_contains("printf 'a\\n%0505d-needle\\n' 0", "-needle"), 0);
    EXPECT_EQ(command_output_contains("printf 'a\\n%0500d-needle\\n' 0", "-needle"), 1);
    EXPECT_EQ(open_descriptors(), descriptors);
}

}  // namespace
