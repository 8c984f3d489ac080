#include "report/version.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

class version_report : public ::testing::Test {
protected:
    void SetUp() override {
        reset_fake_vendor();
        for (const char *sub : {"base", "base/shares", "base/shares/usr", "base/shares/usr/bin",
                                "base/shares/usr/bin/db", "db", "data"})
            mkdir((dir / sub).c_str(), 0755);
        use_config(dir, "[nimbra_path]\nbase=" + dir / "base" + "\ndb=" + dir / "db" + "\ndata=" + dir / "data" +
                            "\n");
    }
    void TearDown() override { reset_nimbra_config_cache(); }
    // nullptr: no file.
    void install(const char *agent, const char *db, const char *fallback, const char *platforms) {
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
    }
    static std::string report(int json) {
        testing::internal::CaptureStdout();
        print_version(json);
        return testing::internal::GetCapturedStdout();
    }
    temp_dir dir;
};

TEST_F(version_report, prints_first_word_of_each_file) {
    install("4.2.1 build 77\n", "2024.05.01\r\n", "1999.01.01", "p17");
    EXPECT_EQ(report(0),
              "\n-------------------------------------------------\n"
              "Nimbra Version Info: \n"
              "Nimbra Agent Version: 4.2.1\n"
              "Database Version: 2024.05.01\n"
              "Platforms Version: p17\n");
    EXPECT_EQ(report(1), R"({"agent-version":"4.2.1","db-version":"2024.05.01","platformdb-version":"p17"})"
                         "\n");
}

TEST_F(version_report, nothing_installed) {
    install(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(report(0),
              "\n-------------------------------------------------\n"
              "Nimbra Version Info: \n"
              "Nimbra Agent Version: \n"
              "Database Version: \n"
              "Platforms Version: \n");
    EXPECT_EQ(report(1), R"({"agent-version":"","db-version":"","platformdb-version":""})"
                         "\n");
}

TEST_F(version_report, picks_and_cuts_each_text) {
    const std::string long_version(100, 'v');
    const std::string long_json =
        R"({"agent-version":")" + std::string(63, 'v') + R"(","db-version":"2","platformdb-version":"p"})";
    const struct {
        const char *name;
        const char *agent, *db, *fallback, *platforms;  // nullptr: no file
        const char *json;
    } cases[] = {
        {"db_missing_uses_fallback", "1", nullptr, "2023.01 shipped\n", "p",
         R"({"agent-version":"1","db-version":"2023.01","platformdb-version":"p"})"},
        {"db_empty_uses_fallback", "1", "", "2023.01\n", "p",
         R"({"agent-version":"1","db-version":"2023.01","platformdb-version":"p"})"},
        {"no_db_at_all", "1", nullptr, nullptr, "p",
         R"({"agent-version":"1","db-version":"","platformdb-version":"p"})"},
        {"blank_first", " 1", "\n2", "3", "\rp",
         R"({"agent-version":"","db-version":"","platformdb-version":""})"},
        {"only_first_63_bytes", long_version.c_str(), "2", nullptr, "p",
         long_json.c_str()},
        {"escaped", R"(a"b\c)", "{x}", nullptr, "]",
         R"({"agent-version":"a\"b\\c","db-version":"{x}","platformdb-version":"]"})"},
    };
    for (const auto &c : cases) {
        install(c.agent, c.db, c.fallback, c.platforms);
        EXPECT_EQ(report(1), std::string(c.json) + "\n") << c.name;
    }
}

}  // namespace
