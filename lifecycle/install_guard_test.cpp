#include "lifecycle/install_guard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/test_support.h"

namespace {

using install_guard = agent_test;

// The base directory is dir/base and the configuration dir/nimbra.ini: dir
// and / hold both, so does a link to dir; dir/bas, whose name is the start
// of base's, does not.
TEST_F(install_guard, holds_the_install_by_real_path) {
    use_config(dir, tree_ini());
    for (const char *sub : {"base", "bas", "data"}) std::filesystem::create_directories(dir / sub);
    ASSERT_EQ(symlink(dir.path.c_str(), (dir / "link").c_str()), 0);
    const struct { std::string directory; bool holds; } cases[] = {
        {"/", true}, {dir.path, true}, {dir / "link", true}, {dir / "base", true}, {dir / "data/..", true},
        {dir / "bas", false}, {dir / "data", false}, {dir / "missing", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(capture([&] { return holds_install(c.directory.c_str(), "k"); }), c.holds) << c.directory;
        const std::string said =
            "k " + c.directory + " holds the agent's programs or configuration: its files are not removed\n";
        EXPECT_EQ(err, c.holds ? said : "");
    }
}

}  // namespace
