#include "util/json.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

namespace {

// Each case also checks that nothing is written at or past the capacity.
TEST(json_add_string, edits_the_object_in_place) {
    // after nullptr: refused (-1), before left as it was.
    const struct { const char *before; int capacity; const char *key, *value; const char *after; } cases[] = {
        {"", 10, "k", "v", R"({"k":"v"})"},
        {"", 9, "k", "v", nullptr},
        {"", 1024, "q", "say \"hi\" C:\\\n", "{\"q\":\"say \\\"hi\\\" C:\\\\\n\"}"},
        {"", 12, "k", R"(ab")", nullptr},
        {"", 1024, "e", nullptr, R"({"e":""})"},
        {R"({"a":"b"} tail)", 1024, "c", "d", R"({"a":"b","c":"d"})"},
        {"{\n\"a\":\"b\"\n}", 1024, "c", "d", "{\n\"a\":\"b\",\n\"c\":\"d\"\n}"},
        {"{}", 1024, "a", "b", R"({"a":"b"})"},
        {"{\n}", 1024, "a", "b", "{\n\"a\":\"b\"\n}"},
        {R"({"a":"}{\"}"})", 1024, "c", "d", R"({"a":"}{\"}","c":"d"})"},
        {R"({"k":"v"})", 18, "c", "d", nullptr},
        {R"({"k":"v"})", 19, "c", "d", R"({"k":"v","c":"d"})"},
        {"[1]", 1024, "a", "b", nullptr},
        {R"({"a":"b")", 1024, "c", "d", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.before) + " + " + c.key);
        char buf[1024];
        memset(buf, '#', sizeof(buf));
        strcpy(buf, c.before);
        EXPECT_EQ(json_add_string(c.key, c.value, buf, c.capacity), c.after ? static_cast<int>(strlen(c.after)) : -1);
        EXPECT_STREQ(buf, c.after ? c.after : c.before);
        EXPECT_TRUE(c.capacity == 1024 || buf[c.capacity] == '#');
    }
    EXPECT_EQ(json_add_string("a", "b", nullptr, 1024), -1);
}

TEST(json_helpers, escape_in_whole_escapes_cut_pairs_find_the_close) {
    EXPECT_STREQ(json_escape("a\"b\\c", "\\\""), "a\\\"b\\\\c");
    EXPECT_STREQ(json_escape("a\"b", nullptr), "a\"b");
    EXPECT_STREQ(json_escape(nullptr, "\""), "");
    // Room for 4095 characters: after 4094 a quote's escape no longer fits,
    // nor anything after it; after 4093 it just does.
    EXPECT_EQ(std::string(json_escape((std::string(4094, 'x') + "\"y").c_str(), "\"")), std::string(4094, 'x'));
    EXPECT_EQ(std::string(json_escape((std::string(4093, 'x') + "\"\"").c_str(), "\"")), std::string(4093, 'x') + "\\\"");
    EXPECT_EQ(strlen(json_escape(std::string(5000, 'x').c_str(), "\"")), 4095u);
    char dst[16];
    EXPECT_EQ(json_format_pair("k", "value", dst, 6), 5);
    EXPECT_STREQ(dst, R"("k":")");
    EXPECT_EQ(json_format_pair("k", "v", dst, 7), 6);  // seven characters: the last has no room
    EXPECT_EQ(json_format_pair("k", "v\"", dst, -1), 9);
    EXPECT_EQ(json_format_pair("k", "v", dst, 0), -1);  // no room at all: nothing written
    EXPECT_STREQ(dst, R"("k":"v\"")");
    const char *const squares = "[[],[]]]";
    EXPECT_EQ(json_find_close(squares), squares + 6);
    EXPECT_EQ(json_find_close("x{}"), nullptr);
}

}  // namespace
