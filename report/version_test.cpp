#include "report/version.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/test_support.h"

namespace {

class version_report : public agent_test {
protected:
    // Writes the four version files (nullptr: none) and prints the report.
    std::string report(int json, const char *agent, const char *db, const char *fallback,
                       const char *platforms) {
        use_config(dir, tree_ini());
        const std::pair<std::string, const char *> files[] = {
            {dir / "base/shares/VERSION", agent},
            {dir / "db/DATABASE_VERSION", db},
            {dir / "base/shares/usr/bin/db/DATABASE_VERSION", fallback},
            {dir / "data/platforms.ver", platforms},
        };
        for (const auto &file : files) {
            unlink(file.first.c_str());
            if (file.second) write_text(file.first, file.second);
        }
        capture([&] { print_version(json); });
        return out;
    }
};

TEST_F(version_report, prints_first_word_of_each_file) {
    const std::string head = "\n-------------------------------------------------\nNimbra Version Info: \n";
    EXPECT_EQ(report(0, "4.2.1 build 77\n", "2024.05.01\r\n", "1999.01.01", "p17"),
              head + "Nimbra Agent Version: 4.2.1\nDatabase Version: 2024.05.01\nPlatforms Version: p17\n");
    EXPECT_EQ(report(0, nullptr, nullptr, nullptr, nullptr),
              head + "Nimbra Agent Version: \nDatabase Version: \nPlatforms Version: \n");
}

TEST_F(version_report, json_picks_and_cuts_each_text) {
    const std::string v100(100, 'v'), v63(63, 'v');
    const struct {
        const char *agent, *db, *fallback, *platforms;  // nullptr: no file
        std::string json;
    } cases[] = {
        {"4.2 x", "2024.05\r\n", "1999", "p17", R"("4.2","db-version":"2024.05","platformdb-version":"p17")"},
        {nullptr, nullptr, nullptr, nullptr, R"("","db-version":"","platformdb-version":"")"},
        {"1", nullptr, "2023.01 shipped\n", "p", R"("1","db-version":"2023.01","platformdb-version":"p")"},
        {"1", "", "2023.01\n", "p", R"("1","db-version":"2023.01","platformdb-version":"p")"},
        {" 1", "\n2", "3", "\rp", R"("","db-version":"","platformdb-version":"")"},
        {v100.c_str(), "2", nullptr, "p", "\"" + v63 + R"(","db-version":"2","platformdb-version":"p")"},
        {R"(a"b\c)", "{x}", nullptr, "]", R"("a\"b\\c","db-version":"{x}","platformdb-version":"]")"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(report(1, c.agent, c.db, c.fallback, c.platforms), R"({"agent-version":)" + c.json + "}\n");
}

}  // namespace
