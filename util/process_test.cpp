#include "util/process.h"

#include <gtest/gtest.h>
#include <stdio.h>

namespace {

TEST(shell_commands, print_after_our_lines_and_are_searched_per_511_characters) {
    testing::internal::CaptureStdout();
    printf("ours, ");  // comes out before the command's own output
    EXPECT_EQ(run_shellf("echo %s; exit 1", "theirs"), 256);  // the raw system() status
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ours, theirs\n");
    EXPECT_EQ(command_output_contains("nimbra-no-such-command 2>/dev/null", "x"), 0);
    // 505 or 500 characters, then the needle: across a read's end it is missed.
    EXPECT_EQ(command_output_contains("printf 'a\\n%0505d-needle\\n' 0", "-needle"), 0);
    EXPECT_EQ(command_output_contains("printf 'a\\n%0500d-needle\\n' 0", "-needle"), 1);
}

}  // namespace
