#include "lifecycle/repair.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

using repair_agent_test = agent_test;

TEST_F(repair_agent_test, stopped_agent_is_left_alone) {
    use_config(dir, tree_ini() + "[network]\nifnames=br0\n");
    EXPECT_EQ(capture(repair_agent), 0);
    EXPECT_EQ(out, "Nimbra is not running, nothing to repair\n");
    EXPECT_TRUE(test_events().empty());
}

}  // namespace
