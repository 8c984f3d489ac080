// The INI store on a file holding the input. Looks up the program's own
// keys, every "section.key" pair the file itself defines, and each of the
// input's first lines taken as a raw key, as single values and as lists.
// Checks:
// - a loaded image ends in a NUL at data + size; an empty file loads nothing;
// - a returned value holds no ";" (the comment cut), and asking again for
//   the same key gives the same non-empty answer;
// - a list holds 1 to 7 non-empty items without delimiters, and they are the
//   value's first items;
// - every pair of the freshly split file that a request can name is found.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "libraries/nimbracfg/tkvs.h"

namespace {

const char kDelimiters[] = ", |";
constexpr size_t kMaxListItems = 7;
constexpr size_t kMaxSection = 63;
constexpr size_t kMaxKey = 127;
constexpr int kMaxRawKeys = 16;
constexpr int kMaxPairs = 32;

// The keys this program reads.
const char *const kProgramKeys[] = {
    "nimbra_path.base",         "nimbra_path.data",          "nimbra_path.ramdisk",
    "nimbra_path.db",           "nimbra_path.log",           "nimbra_log.max_log_size",
    "security.certfile",        "network.ifnames",           "network.bridge_ifname",
    "hwa_flow.raise_supported", "hwa_flow.flush_interval",   "nimbra_ports.base_port",
    "nimbra_ports.dnsmasq_port", "nimbra_ports.router_dnsmasq_port",
    "iptables.chains_handled_by_router", "iptables.use_tproxy_ipv6",
};

std::string g_path;

std::string value_or_null(const char *value) { return value ? "=" + std::string(value) : "<null>"; }

std::vector<std::string> first_items(const char *value) {
    std::vector<std::string> items;
    std::string copy = value;
    char *save = nullptr;
    for (char *item = strtok_r(&copy[0], kDelimiters, &save); item && items.size() < kMaxListItems;
         item = strtok_r(nullptr, kDelimiters, &save))
        items.push_back(item);
    return items;
}

// A value that the comment cut empties ("k=;x") leaves the rest of it as a
// token of its own, so asking again may give that rest: only a non-empty
// answer must repeat.
void check_lookup(tkvs_handle *handle, const char *key) {
    char *value = tkvs_get_config(handle, key);
    if (value) fuzz_require(strchr(value, ';') == nullptr, "a value is cut at its first ';'");
    char *again = tkvs_get_config(handle, key);
    if (!value || *value)
        fuzz_require(value_or_null(value) == value_or_null(again), "the same key gives the same value");
    free(value);

    char **list = tkvs_get_multi_value(handle, key);
    size_t count = 0;
    for (; list && count < kMaxListItems && list[count]; ++count)
        fuzz_require(*list[count] && !strpbrk(list[count], kDelimiters), "list items are non-empty, undelimited");
    fuzz_require(!list || (count > 0 && list[count] == nullptr), "a list holds 1 to 7 items and a null pointer");
    if (!again) fuzz_require(list == nullptr, "no value, no list");
    if (again && *again) {
        const std::vector<std::string> items = first_items(again);
        fuzz_require(count == items.size(), "a list exactly when the value has an item");
        for (size_t i = 0; i < count; ++i) fuzz_require(items[i] == list[i], "list items are the value's first items");
    }
    tkvs_free_list(list);
    free(again);
}

bool nameable(const std::string &section, const std::string &key) {
    if (section.empty() || section.size() > kMaxSection || section.find('.') != std::string::npos) return false;
    if (key.empty() || key.size() > kMaxKey) return false;
    for (char c : key)
        if (strchr(" \t\n\v\f\r", c)) return false;  // a request's key ends at white space
    return true;
}

// Each key/value pair of a fresh image that a request can name must be
// found, through tkvs_find and through the request form.
void check_pairs(tkvs_handle *handle) {
    ini_image *loaded = handle->image;
    const size_t size = static_cast<size_t>(loaded->end - loaded->data);
    const std::vector<char> pristine(loaded->data, loaded->data + size + 1);
    std::vector<std::string> tokens;
    for (const char *p = pristine.data(), *end = p + size; p < end; ++p)
        if (*p && (p == pristine.data() || !p[-1])) tokens.push_back(p);

    std::string section;
    int pairs = 0;
    for (size_t i = 0; i < tokens.size() && pairs < kMaxPairs; ++i) {
        if (tokens[i][0] == '[') {
            section = tokens[i].substr(1);
            continue;
        }
        if (i + 1 == tokens.size()) break;  // a key without a value
        const std::string key = tokens[i];
        ++i;
        if (!nameable(section, key)) continue;
        ++pairs;
        // Look-ups cut values in place: each runs on a fresh copy.
        std::vector<char> scratch = pristine;
        ini_image image = {scratch.data(), scratch.data() + size};
        fuzz_require(tkvs_find(&image, section.c_str(), key.c_str()) != nullptr, "a defined pair is found");
        scratch = pristine;
        image = {scratch.data(), scratch.data() + size};
        handle->image = &image;
        char *value = tkvs_get_config(handle, (section + "." + key).c_str());
        handle->image = loaded;
        fuzz_require(value != nullptr, "a defined pair is found by its request");
        free(value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    silence_program_stderr();
    g_path = fuzz_scratch_dir() + "/fuzz.ini";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    write_bytes(g_path, data, size);
    tkvs_handle *handle = tkvs_init(g_path.c_str());
    fuzz_require((handle == nullptr) == (size == 0), "only an empty file fails to load");
    if (!handle) return 0;
    fuzz_require(handle->image->end == handle->image->data + size && *handle->image->end == '\0',
                 "the image ends in a NUL at data + size");

    check_pairs(handle);
    for (const char *key : kProgramKeys) check_lookup(handle, key);
    // The input's own lines as raw keys: no dot, many dots, long sections.
    const std::string input(reinterpret_cast<const char *>(data), size);
    size_t from = 0;
    for (int n = 0; n < kMaxRawKeys && from < input.size(); ++n) {
        size_t to = input.find('\n', from);
        if (to == std::string::npos) to = input.size();
        const std::vector<char> key = exact_copy(input.substr(from, to - from));
        check_lookup(handle, key.data());
        from = to + 1;
    }
    fuzz_require(tkvs_get_config(handle, nullptr) == nullptr && tkvs_get_multi_value(nullptr, "a.b") == nullptr,
                 "missing arguments give nullptr");
    tkvs_release(handle);
    return 0;
}
