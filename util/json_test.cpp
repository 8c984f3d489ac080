#include "util/json.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

namespace {

// Each case also checks that nothing is written at or past the capacity.
TEST(json_add_string, edits_the_object_in_place) {
    const struct {
        const char *before;
        int capacity;
        const char *key, *value;
        const char *after;  // nullptr: refused (-1), before left as it was
    } cases[] = {
        {"", 1024, "a", "b", R"({"a":"b"})"},
        {R"({"a":"b"})", 1024, "c", "d", R"({"a":"b","c":"d"})"},
        {"", 1024, "q", R"(say "hi" C:\)", R"({"q":"say \"hi\" C:\\"})"},
        {"", 1024, "n", "a\nb", "{\"n\":\"a\nb\"}"},
        {"", 1024, "e", nullptr, R"({"e":""})"},
        {"{\n\"a\":\"b\"\n}", 1024, "c", "d", "{\n\"a\":\"b\",\n\"c\":\"d\"\n}"},
        {"{}", 1024, "a", "b", R"({"a":"b"})"},
        {"{\n}", 1024, "a", "b", "{\n\"a\":\"b\"\n}"},
        {R"({"a":"}{\"}"})", 1024, "c", "d", R"({"a":"}{\"}","c":"d"})"},
        {R"({"a":"b"} tail)", 1024, "c", "d", R"({"a":"b","c":"d"})"},
        {R"({"k":"v"})", 16, "c", "d", nullptr},
        {R"({"k":"v"})", 18, "c", "d", nullptr},
        {R"({"k":"v"})", 19, "c", "d", R"({"k":"v","c":"d"})"},
        {"", 10, "k", "v", R"({"k":"v"})"},
        {"", 9, "k", "v", nullptr},
        {"", 12, "k", R"(ab")", nullptr},
        {"[1]", 1024, "a", "b", nullptr},
        {R"({"a":"b")", 1024, "c", "d", nullptr},
    };
    for (const auto &c : cases) {
        char buf[1024];
        memset(buf, '#', sizeof(buf));
        strcpy(buf, c.before);
        const int result = json_add_string(c.key, c.value, buf, c.capacity);
        EXPECT_STREQ(buf, c.after ? c.after : c.before) << c.before << " + " << c.key;
        EXPECT_EQ(result, c.after ? static_cast<int>(strlen(c.after)) : -1) << c.before << " + " << c.key;
        EXPECT_TRUE(c.capacity == 1024 || buf[c.capacity] == '#') << c.before << " + " << c.key;
    }
    EXPECT_EQ(json_add_string("a", "b", nullptr, 1024), -1);
}

TEST(json_escape, prefixes_specials_and_cuts_whole_escapes) {
    EXPECT_STREQ(json_escape("a\"b\\c", "\\\""), "a\\\"b\\\\c");
    EXPECT_STREQ(json_escape("a\"b", nullptr), "a\"b");
    EXPECT_STREQ(json_escape(nullptr, "\""), "");
    // 4094 characters, then a quote: its escape no longer fits and nothing
    // after it may take its place.
    EXPECT_EQ(std::string(json_escape((std::string(4094, 'x') + "\"y").c_str(), "\"")), std::string(4094, 'x'));
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

TEST(json_find_close, matches_the_opening_bracket_outside_strings) {
    const char *const nested = "{\"a\":{\"}\"}}x}", *const squares = "[[],[]]";
    EXPECT_EQ(json_find_close(nested), nested + 10);
    EXPECT_EQ(json_find_close(squares), squares + 6);
    EXPECT_EQ(json_find_close("{"), nullptr);
    EXPECT_EQ(json_find_close("x{}"), nullptr);
}

}  // namespace
