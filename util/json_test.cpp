#include "util/json.h"

#include <gtest/gtest.h>
#include <string.h>

#include <stdlib.h>

#include <string>

#include "tests/test_support.h"

namespace {

TEST(json_add_string, edits_the_object_in_place) {
    const struct {
        const char *name;
        const char *before;
        int capacity;
        const char *key, *value;
        bool added;
        const char *after;
    } cases[] = {
        {"first_member", "", 1024, "a", "b", true, R"({"a":"b"})"},
        {"second_member", R"({"a":"b"})", 1024, "c", "d", true, R"({"a":"b","c":"d"})"},
        {"quote_escaped", "", 1024, "q", R"(say "hi")", true, R"({"q":"say \"hi\""})"},
        {"backslash_doubled", "", 1024, "p", R"(C:\x\)", true, R"({"p":"C:\\x\\"})"},
        {"newline_kept", "", 1024, "n", "a\nb", true, "{\"n\":\"a\nb\"}"},
        {"empty_value", "", 1024, "e", "", true, R"({"e":""})"},
        {"null_value", "", 1024, "e", nullptr, true, R"({"e":""})"},
        {"line_layout", "{\n\"a\":\"b\"\n}", 1024, "c", "d", true, "{\n\"a\":\"b\",\n\"c\":\"d\"\n}"},
        {"no_members", "{}", 1024, "a", "b", true, R"({"a":"b"})"},
        {"no_members_lines", "{\n}", 1024, "a", "b", true, "{\n\"a\":\"b\"\n}"},
        {"brace_in_value", R"({"a":"}{\"}"})", 1024, "c", "d", true, R"({"a":"}{\"}","c":"d"})"},
        {"text_after_dropped", R"({"a":"b"} tail)", 1024, "c", "d", true, R"({"a":"b","c":"d"})"},
        {"capacity_16_first", "", 16, "k", "v", true, R"({"k":"v"})"},
        {"capacity_16_second", R"({"k":"v"})", 16, "c", "d", false, R"({"k":"v"})"},
        {"exact_fit", "", 10, "k", "v", true, R"({"k":"v"})"},
        {"one_short", "", 9, "k", "v", false, ""},
        {"cut_after_escaped_quote", "", 12, "k", R"(ab")", false, ""},
        {"not_an_object", "[1]", 1024, "a", "b", false, "[1]"},
        {"plain_text", "x", 1024, "a", "b", false, "x"},
        {"never_closed", R"({"a":"b")", 1024, "c", "d", false, R"({"a":"b")"},
        {"capacity_1", "", 1, "a", "b", false, ""},
    };
    for (const auto &c : cases) {
        char buf[1024];
        strcpy(buf, c.before);
        const int result = json_add_string(c.key, c.value, buf, c.capacity);
        if (c.added) {
            EXPECT_EQ(result, static_cast<int>(strlen(buf))) << c.name;
        } else {
            EXPECT_EQ(result, -1) << c.name;
        }
        EXPECT_STREQ(buf, c.after) << c.name;
    }
    EXPECT_EQ(json_add_string("a", "b", nullptr, 1024), -1);
}

// The writer must never leave a byte past the capacity it was given.
TEST(json_add_string, stays_within_capacity) {
    for (int capacity = 2; capacity < 40; ++capacity) {
        char buf[64];
        memset(buf, '#', sizeof(buf));
        buf[0] = '\0';
        for (int added = 0; added < 10 && json_add_string("key", "v\"", buf, capacity) > 0; ++added)
            continue;
        EXPECT_LT(strlen(buf), static_cast<size_t>(capacity)) << capacity;
        EXPECT_EQ(buf[capacity], '#') << capacity;
        EXPECT_TRUE(buf[0] == '\0' || buf[strlen(buf) - 1] == '}') << buf;
    }
}

TEST(json_escape, prefixes_specials_and_cuts_whole_escapes) {
    EXPECT_STREQ(json_escape("a\"b\\c", "\\\""), "a\\\"b\\\\c");
    EXPECT_STREQ(json_escape("a-b", "-"), "a\\-b");
    EXPECT_STREQ(json_escape("a\"b", nullptr), "a\"b");
    EXPECT_STREQ(json_escape(nullptr, "\""), "");
    // 4094 characters, then a quote: its escape no longer fits and nothing
    // after it may take its place.
    const std::string text = std::string(4094, 'x') + "\"y";
    EXPECT_EQ(std::string(json_escape(text.c_str(), "\"")), std::string(4094, 'x'));
    EXPECT_EQ(strlen(json_escape(std::string(5000, 'x').c_str(), "\"")), 4095u);
}

TEST(json_format_pair, returns_written_or_cut_length) {
    char dst[32];
    EXPECT_EQ(json_format_pair("k", "a\"", dst, sizeof(dst)), 9);
    EXPECT_STREQ(dst, R"("k":"a\"")");
    EXPECT_EQ(json_format_pair("k", "value", dst, 6), 5);
    EXPECT_STREQ(dst, R"("k":")");
    EXPECT_EQ(json_format_pair("k", "v", dst, -1), 7);
    EXPECT_STREQ(dst, R"("k":"v")");
}

TEST(json_find_close, matches_the_opening_bracket) {
    const struct {
        const char *text;
        int close;  // index, -1: none
    } cases[] = {
        {"{}", 1},           {"{\"a\":{}}x}", 7},  {"[[],[]]", 6},        {"{[}", 2},
        {"{\"}\"}", 4},      {"{\"\\\"}\"}", 6},   {"{", -1},             {"x{}", -1},
        {"", -1},            {"[\"]\"", -1},
    };
    for (const auto &c : cases) {
        const char *found = json_find_close(c.text);
        EXPECT_EQ(found ? static_cast<int>(found - c.text) : -1, c.close) << c.text;
    }
    EXPECT_EQ(json_find_close(nullptr), nullptr);
}

// The reports' JSON lines are read by other programs; a real parser must
// accept what the writer builds from awkward values.
TEST(json_add_string, output_parses_as_json) {
    if (system("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not installed";
    char buf[1024] = "";
    const char *values[] = {"plain", R"(q"uote)", R"(back\slash\)", "{[}]", R"(\")", ""};
    for (const char *value : values) ASSERT_GT(json_add_string("k", value, buf, sizeof(buf)), 0) << value;
    temp_dir dir;
    write_text(dir / "out.json", buf);
    const std::string check = "python3 -c 'import json,sys; "
                              "assert len(json.load(open(sys.argv[1]), object_pairs_hook=list)) == 6' " +
                              dir / "out.json";
    EXPECT_EQ(system(check.c_str()), 0) << buf;
}

}  // namespace
