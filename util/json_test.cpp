#include "util/json.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

namespace {

// Each case also checks that nothing is written at or past the capacity.
TEST(json_add_string, edits_the_object_in_place) {
    const struct {
        const char *name, *before;
        int capacity;
        const char *key, *value;
        bool added;
        const char *after;
    } cases[] = {
        {"first_member", "", 1024, "a", "b", true, R"({"a":"b"})"},
        {"second_member", R"({"a":"b"})", 1024, "c", "d", true, R"({"a":"b","c":"d"})"},
        {"escaped", "", 1024, "q", R"(say "hi" C:\)", true, R"({"q":"say \"hi\" C:\\"})"},
        {"newline_kept", "", 1024, "n", "a\nb", true, "{\"n\":\"a\nb\"}"},
        {"null_value", "", 1024, "e", nullptr, true, R"({"e":""})"},
        {"line_layout", "{\n\"a\":\"b\"\n}", 1024, "c", "d", true, "{\n\"a\":\"b\",\n\"c\":\"d\"\n}"},
        {"no_members", "{}", 1024, "a", "b", true, R"({"a":"b"})"},
        {"no_members_lines", "{\n}", 1024, "a", "b", true, "{\n\"a\":\"b\"\n}"},
        {"brace_in_value", R"({"a":"}{\"}"})", 1024, "c", "d", true, R"({"a":"}{\"}","c":"d"})"},
        {"text_after_dropped", R"({"a":"b"} tail)", 1024, "c", "d", true, R"({"a":"b","c":"d"})"},
        {"capacity_16_first", "", 16, "k", "v", true, R"({"k":"v"})"},
        {"capacity_16_second", R"({"k":"v"})", 16, "c", "d", false, R"({"k":"v"})"},
        {"capacity_18_second", R"({"k":"v"})", 18, "c", "d", false, R"({"k":"v"})"},
        {"capacity_19_second", R"({"k":"v"})", 19, "c", "d", true, R"({"k":"v","c":"d"})"},
        {"exact_fit", "", 10, "k", "v", true, R"({"k":"v"})"},
        {"one_short", "", 9, "k", "v", false, ""},
        {"cut_after_escaped_quote", "", 12, "k", R"(ab")", false, ""},
        {"not_an_object", "[1]", 1024, "a", "b", false, "[1]"},
        {"never_closed", R"({"a":"b")", 1024, "c", "d", false, R"({"a":"b")"},
    };
    for (const auto &c : cases) {
        char buf[1024];
        memset(buf, '#', sizeof(buf));
        strcpy(buf, c.before);
        const int result = json_add_string(c.key, c.value, buf, c.capacity);
        EXPECT_EQ(result, c.added ? static_cast<int>(strlen(buf)) : -1) << c.name;
        EXPECT_STREQ(buf, c.after) << c.name;
        EXPECT_TRUE(c.capacity == 1024 || buf[c.capacity] == '#') << c.name;
    }
    EXPECT_EQ(json_add_string("a", "b", nullptr, 1024), -1);
}

TEST(json_escape, prefixes_specials_and_cuts_whole_escapes) {
    EXPECT_STREQ(json_escape("a\"b\\c", "\\\""), "a\\\"b\\\\c");
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
}

TEST(json_find_close, matches_the_opening_bracket) {
    const char *const nested = "{\"a\":{}}x}", *const squares = "[[],[]]";
    EXPECT_EQ(json_find_close(nested), nested + 7);
    EXPECT_EQ(json_find_close(squares), squares + 6);
    EXPECT_EQ(json_find_close("{"), nullptr);
    EXPECT_EQ(json_find_close("x{}"), nullptr);
}

}  // namespace
