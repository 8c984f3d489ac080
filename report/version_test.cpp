#include "report/version.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/test_support.h"

namespace {

using version_report = agent_test;

// The first word of each file, the database's from the shipped one until one
// is downloaded, cut to 63 characters and escaped for JSON.
TEST_F(version_report, prints_first_word_of_each_file) {
    use_config(dir, tree_ini());
    const std::string v100(100, 'v'), v63(63, 'v');
    // Contents of the four files (nullptr: none) and the JSON members they give.
    const struct { const char *agent, *db, *shipped_db, *platforms; std::string json; } cases[] = {
        {"4.2 x", "2024.05\r\n", "1999", "p17", R"("4.2","db-version":"2024.05","platformdb-version":"p17")"},
        {nullptr, nullptr, nullptr, nullptr, R"("","db-version":"","platformdb-version":"")"},
        {"1", nullptr, "2023.01 shipped\n", "p", R"("1","db-version":"2023.01","platformdb-version":"p")"},
        {"1", "", "2023.01\n", "p", R"("1","db-version":"2023.01","platformdb-version":"p")"},
        {" 1", "\n2", "3", "\rp", R"("","db-version":"","platformdb-version":"")"},
        {v100.c_str(), "2", "1999", "p", "\"" + v63 + R"(","db-version":"2","platformdb-version":"p")"},
        {R"(a"b\c)", "{x}", nullptr, "]", R"("a\"b\\c","db-version":"{x}","platformdb-version":"]")"},
        // A control character is copied as it stands: no valid JSON then.
        {"4.2\tbeta x", "1", nullptr, "p", "\"4.2\tbeta\"," R"("db-version":"1","platformdb-version":"p")"},
    };
    for (const auto &c : cases) {
        const std::pair<const char *, const char *> files[] = {
            {"base/shares/VERSION", c.agent}, {"db/DATABASE_VERSION", c.db},
            {"base/shares/usr/bin/db/DATABASE_VERSION", c.shipped_db}, {"data/platforms.ver", c.platforms}};
        for (const auto &file : files) {
            unlink((dir / file.first).c_str());
            if (file.second) write_text(dir / file.first, file.second);
        }
        capture([] { print_version(1); });
        EXPECT_EQ(out, R"({"agent-version":)" + c.json + "}\n");
    }
    capture([] { print_version(0); });  // the text form, of the last files
    EXPECT_EQ(out, "\n" + std::string(49, '-') + "\nNimbra Version Info: \nNimbra Agent Version: 4.2\tbeta\n"
                   "Database Version: 1\nPlatforms Version: p\n");
}

}  // namespace
