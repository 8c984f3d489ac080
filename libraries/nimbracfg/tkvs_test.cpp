#include "libraries/nimbracfg/tkvs.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "tests/temp_dir.h"

namespace {

// What the store gives for key in a file holding ini: "=" and the value (or
// with list the items joined by "|"), then what it said on stderr.
std::string lookup(const std::string &ini, const std::string &key, bool list = false) {
    temp_dir dir;
    write_text(dir / "f.ini", ini);
    tkvs_handle *handle = tkvs_init((dir / "f.ini").c_str());
    testing::internal::CaptureStderr();
    std::string got;
    if (list) {
        char **items = tkvs_get_multi_value(handle, key.c_str());
        for (char **item = items; item && *item; ++item) got += (got.empty() ? "=" : "|") + std::string(*item);
        tkvs_free_list(items);
    } else if (char *value = tkvs_get_config(handle, key.c_str())) {
        got = "=" + std::string(value);
        free(value);
    }
    tkvs_release(handle);
    return got + testing::internal::GetCapturedStderr();
}

TEST(tkvs_get_config, finds_values_as_the_file_splits) {
    std::string big = "[big]\n";  // a megabyte, the key on its last line
    for (int i = 0; big.size() < (1 << 20); ++i) big += "key" + std::to_string(i) + " = value\n";
    const std::string none = "Warning: 'a.k' not found\n";
    const struct { std::string ini, key, expected; } cases[] = {
        {"[A]\r\n  K \t=  v w \t; note \r\n", "a.k", "=v w"},
        {"[a]\nk=\"a ; b\"\n", "a.k", "=a"},  // quotes do not protect a ';'
        {"[a]\nk=\"x\\ty\\n\\\"\\\\\" trailing\n", "a.k", "=x\ty\n\"\\"},
        {"[a]\nk=\"abc def\n", "a.k", "=abc def"},
        {"[a]\nk=\n", "a.k", none},
        {"[a]\nk=\"\"\n", "a.k", none},
        {"[a]\nk=;x\n", "a.k", "="},
        {"[a]\nk=x\t= \"y\" #z\n", "a.k", "=x\t= \"y\" #z"},
        {"[ a ]\nk=v\n", " a .k", "=v"},
        {"k=v\n[a]\n", "a.k", none},
        {"[a]\nb.c=v\n", "a.b.c", "=v"},
        {"[a]\nk=v\n", "ak", "INI section dump not yet supported\n"},
        {"[a]\nk=1\n[b]\nk=2\n[a]\nk=3\n", "a.k", "=1"},
        {"[a]\nx=1\n[b]\ny=2\n[a]\nk=3\n", "a.k", "=3"},
        {"[a]\n# note\n#k=1\n", "a.#k", "=1"},
        {"[a] k=v\n", "a.k", "=v"},
        {"[a\nk=v\n", "a.k", "=v"},
        {"; [b]\n[a]\nk=v", "b.k", "Warning: 'b.k' not found\n"},
        {std::string("[a]\nk=v\0w\n", 10), "a.k", "=v"},
        {big + "last = found\n", "big.last", "=found"},
        {"[a]\n" + std::string(127, 'k') + "=v\n", "a." + std::string(200, 'k'), "=v"},
        {"x", "a.k", none},  // a one-byte file loads
    };
    for (const auto &c : cases) EXPECT_EQ(lookup(c.ini, c.key), c.expected) << c.ini.substr(0, 40) << c.key;
    EXPECT_EQ(lookup("[n]\nl=br0, eth1 | wlan0\n", "n.l", true), "=br0|eth1|wlan0");
    EXPECT_EQ(lookup("[n]\nl=a b c d e f g h i\n", "n.l", true), "=a|b|c|d|e|f|g");
    EXPECT_EQ(lookup("[n]\nl=\", | ,\"\n", "n.l", true), "");
}

// Missing, empty, FIFO and directory configurations are refused end to end.
TEST(tkvs_init, refuses_what_it_cannot_load_whole) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(tkvs_init(nullptr), nullptr);
    EXPECT_EQ(tkvs_get_config(nullptr, "a.b"), nullptr);
    EXPECT_EQ(tkvs_get_multi_value(nullptr, "a.b"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tkvs_init: Invalid filename\n"
              "tkvs_get_config: Error: Invalid parameter(s)\ntkvs_get_multi_value: Error: Invalid parameter(s)\n");
}

}  // namespace
