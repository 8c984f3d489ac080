#include "libraries/nimbracfg/tkvs.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/test_support.h"

namespace {

// A file a megabyte long whose last line holds the key "last".
std::string big_ini() {
    std::string ini = "[big]\n";
    for (int i = 0; ini.size() < (1 << 20); ++i) ini += "key" + std::to_string(i) + " = value\n";
    return ini + "last = found\n";
}

struct lookup_case {
    const char *name;
    std::string ini, key;
    const char *expected;  // nullptr: not found
    const char *message;   // expected on stderr ("" for none)
};

const lookup_case kLookups[] = {
    {"plain", "[a]\nk=v\n", "a.k", "v", ""},
    {"blanks_around_equals", "[a]\n  k \t=  v w \t\n", "a.k", "v w", ""},
    {"comment_after_value", "[a]\nk=v ; note\n", "a.k", "v", ""},
    {"semicolon_inside_quotes", "[a]\nk=\"a ; b\"\n", "a.k", "a", ""},
    {"escapes_in_quotes", "[a]\nk=\"x\\ty\\n\\\"\\\\\"\n", "a.k", "x\ty\n\"\\", ""},
    {"unterminated_quote", "[a]\nk=\"abc def\n", "a.k", "abc def", ""},
    {"text_after_closing_quote", "[a]\nk=\"v\" trailing\n", "a.k", "v", ""},
    {"empty_value", "[a]\nk=\n", "a.k", nullptr, "Warning: 'a.k' not found\n"},
    {"empty_quotes", "[a]\nk=\"\"\n", "a.k", nullptr, "Warning: 'a.k' not found\n"},
    {"crlf", "[a]\r\nk=v\r\nj = w \r\n", "a.j", "w", ""},
    {"case_insensitive", "[Net]\nIFNAMES=br0\n", "net.ifnames", "br0", ""},
    {"spaces_in_header_kept", "[ a ]\nk=v\n", "a.k", nullptr, "Warning: 'a.k' not found\n"},
    {"header_with_spaces_named", "[ a ]\nk=v\n", " a .k", "v", ""},
    {"keys_before_first_section", "k=v\n[a]\n", "a.k", nullptr, "Warning: 'a.k' not found\n"},
    {"two_dots", "[a]\nb.c=v\n", "a.b.c", "v", ""},
    {"no_dot", "[a]\nk=v\n", "ak", nullptr, "INI section dump not yet supported\n"},
    {"leading_dot", "[a]\nk=v\n", ".k", nullptr, ""},
    {"empty_key", "[a]\nk=v\n", "", nullptr, ""},
    {"key_with_space_unreachable", "[a]\nmy key=v\n", "a.my key", nullptr,
     "Warning: 'a.my key' not found\n"},
    {"first_match_wins", "[a]\nk=1\nk=2\n", "a.k", "1", ""},
    {"repeated_section_searched", "[a]\nx=1\n[b]\ny=2\n[a]\nk=3\n", "a.k", "3", ""},
    {"value_starting_with_semicolon", "[a]\nk=;x\n", "a.k", "", ""},
    {"unquoted_keeps_inner_text", "[a]\nk=x\t= \"y\" #z\n", "a.k", "x\t= \"y\" #z", ""},
    {"hash_line_with_equals_is_key", "[a]\n#x=1\n", "a.#x", "1", ""},
    {"hash_line_without_equals_dropped", "[a]\n# note\nk=v\n", "a.k", "v", ""},
    {"key_without_equals_dropped", "[a]\nk\n=v\nj=w\n", "a.j", nullptr,
     "Warning: 'a.j' not found\n"},
    {"line_starting_with_equals_shifts_pairs", "[a]\n=v\nk=1\nj=2\n", "a.j", nullptr,
     "Warning: 'a.j' not found\n"},
    {"text_after_header_is_a_line", "[a] k=v\n", "a.k", "v", ""},
    {"header_without_bracket", "[a\nk=v\n", "a.k", "v", ""},
    {"semicolon_comment_line", "; [b]\n[a]\nk=v\n", "b.k", nullptr,
     "Warning: 'b.k' not found\n"},
    {"no_final_newline", "[a]\nk=v", "a.k", "v", ""},
    {"nul_byte_ends_value", std::string("[a]\nk=v\0w\n", 10), "a.k", "v", ""},
    {"one_megabyte_file", big_ini(), "big.last", "found", ""},
    {"long_key_cut_to_127_bytes", "[a]\n" + std::string(127, 'k') + "=v\n", "a." + std::string(200, 'k'),
     "v", ""},
};

tkvs_handle *open_ini(const temp_dir &dir, const std::string &text) {
    write_text(dir / "f.ini", text);
    return tkvs_init((dir / "f.ini").c_str());
}

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const lookup_case &c, std::ostream *os) { *os << c.name; }

class tkvs_lookup : public ::testing::TestWithParam<lookup_case> {};

TEST_P(tkvs_lookup, gives_value_or_message) {
    const lookup_case &c = GetParam();
    temp_dir dir;
    tkvs_handle *handle = open_ini(dir, c.ini);
    ASSERT_NE(handle, nullptr);
    testing::internal::CaptureStderr();
    char *value = tkvs_get_config(handle, c.key.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(value ? std::string(value) : "<null>", c.expected ? c.expected : "<null>");
    EXPECT_EQ(err, c.message);
    free(value);
    tkvs_release(handle);
}

INSTANTIATE_TEST_SUITE_P(cases, tkvs_lookup, ::testing::ValuesIn(kLookups),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(tkvs_get_multi_value, splits_into_at_most_seven) {
    const struct {
        const char *value;
        std::vector<std::string> items;
    } cases[] = {
        {"br0, eth1 | wlan0", {"br0", "eth1", "wlan0"}},
        {"a b c d e f g h i", {"a", "b", "c", "d", "e", "f", "g"}},
        {"\", | ,\"", {}},
    };
    for (const auto &c : cases) {
        temp_dir dir;
        tkvs_handle *handle = open_ini(dir, std::string("[n]\nl=") + c.value + "\n");
        char **list = tkvs_get_multi_value(handle, "n.l");
        std::vector<std::string> got;
        for (char **item = list; item && *item; ++item) got.push_back(*item);
        EXPECT_EQ(got, c.items) << c.value;
        EXPECT_EQ(list == nullptr, c.items.empty()) << c.value;
        tkvs_free_list(list);
        tkvs_release(handle);
    }
}

TEST(tkvs_load_file, refuses_a_file_larger_than_the_address_space) {
    // Where a file size fits size_t, such a file would really be read.
    if (sizeof(off_t) <= sizeof(size_t)) GTEST_SKIP() << "file sizes fit size_t here";
    temp_dir dir;
    const std::string huge = dir / "huge.ini";
    write_text(huge, "[a]\nk=v\n");
    // Sparse: 4 GiB and 8 bytes that cut to size_t would look like 8.
    ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>((1ULL << 32) + 8)), 0);
    EXPECT_EQ(tkvs_load_file(huge.c_str()), nullptr);
}

TEST(tkvs_init, reports_why_a_file_cannot_be_used) {
    temp_dir dir;
    write_text(dir / "empty.ini", "");
    const std::string missing = dir / "missing.ini", empty = dir / "empty.ini";
    // Neither may hang the load: a FIFO has no writer, a directory no data.
    const std::string fifo = dir / "fifo.ini", directory = dir / "dir.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
    const struct {
        const char *path;
        std::string message;
    } cases[] = {
        {nullptr, "tkvs_init: Invalid filename\n"},
        {missing.c_str(), "tkvs_init: File '" + missing + "' does not exist\n"},
        {empty.c_str(), "tkvs_init: Failed while loading file '" + empty + "'\n"},
        {fifo.c_str(), "tkvs_init: Failed while loading file '" + fifo + "'\n"},
        {directory.c_str(), "tkvs_init: Failed while loading file '" + directory + "'\n"},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(tkvs_init(c.path), nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(tkvs_get_config(nullptr, "a.b"), nullptr);
    EXPECT_EQ(tkvs_get_multi_value(nullptr, "a.b"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tkvs_get_config: Error: Invalid parameter(s)\n"
              "tkvs_get_multi_value: Error: Invalid parameter(s)\n");
}

}  // namespace
