// The JSON writer on random keys, values, capacities and buffer states.
// Every buffer is a heap block of exactly its capacity, so a write past the
// end is an AddressSanitizer finding; the writer's results are checked
// against what it promises, so a logic fault aborts too:
// - json_escape: the longest prefix of the full escape that ends on a whole
//   escape and fits 4095 characters;
// - json_format_pair: at most size bytes, NUL-terminated, the characters
//   written or size - 1 when cut, the text a prefix of the full pair, whose
//   value has quote and backslash escaped, every other byte as it is, cut at
//   4095 characters on a whole escape;
// - json_find_close: NULL or a partner bracket inside the text;
// - json_add_string: -1 leaves the text as it was (a failed addition may
//   only drop text after the closing brace); success gives the new length,
//   exactly the old object plus the member, and keeps json_find_close finding
//   the last brace; a member fails to fit exactly when it does not fit.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "util/json.h"

namespace {

constexpr size_t kEscapeLimit = 4095;
// Long enough to fill the escape buffer with quotes to spare.
constexpr size_t kMaxText = 4200;
const char kStringSpecials[] = "\\\"";

// A short chunk, sometimes repeated into a text longer than any buffer.
std::string random_text(FuzzedDataProvider &in) {
    const std::string chunk = in.ConsumeRandomLengthString(64);
    const size_t repeat = in.ConsumeIntegralInRange<int>(0, 7) ? 1 : in.ConsumeIntegralInRange<size_t>(1, kMaxText);
    std::string text;
    for (size_t i = 0; i < repeat && text.size() < kMaxText; ++i) text += chunk;
    text.resize(std::min(text.size(), kMaxText));
    return std::string(text.c_str());  // as the writer sees it: up to the first NUL
}

std::string full_escape(const std::string &text, const char *specials, bool cut) {
    std::string out;
    for (char c : text) {
        const bool special = specials && strchr(specials, c);
        if (cut && out.size() + (special ? 2 : 1) > kEscapeLimit) break;
        if (special) out += '\\';
        out += c;
    }
    return out;
}

std::string pair_text(const std::string &key, const std::string &value) {
    return "\"" + key + "\":\"" + full_escape(value, kStringSpecials, true) + "\"";
}

void check_escape(FuzzedDataProvider &in) {
    const bool null_text = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    const bool null_specials = in.ConsumeIntegralInRange<int>(0, 7) == 0;
    const std::vector<char> specials = exact_copy(in.ConsumeRandomLengthString(8));
    const std::string text = random_text(in);
    const std::vector<char> copy = exact_copy(text);
    const char *result = json_escape(null_text ? nullptr : copy.data(), null_specials ? nullptr : specials.data());
    fuzz_require(result && memchr(result, '\0', kEscapeLimit + 1), "json_escape: NUL within 4096 bytes");
    const std::string full = null_text ? "" : full_escape(text, null_specials ? nullptr : specials.data(), false);
    const std::string expected = null_text ? "" : full_escape(text, null_specials ? nullptr : specials.data(), true);
    fuzz_require(expected == result, "json_escape: the longest whole-escape prefix that fits");
    fuzz_require(full.compare(0, expected.size(), expected) == 0, "json_escape: a prefix of the full escape");
}

int pick_size(FuzzedDataProvider &in, size_t full) {
    switch (in.ConsumeIntegralInRange<int>(0, 6)) {
    case 0: return -1;
    case 1: return 0;
    case 2: return 1;
    case 3: return static_cast<int>(full) + 1;  // just fits
    case 4: return static_cast<int>(full);      // one short
    case 5: return in.ConsumeIntegralInRange<int>(0, 40);
    default: return in.ConsumeIntegralInRange<int>(0, 10000);
    }
}

void check_format_pair(FuzzedDataProvider &in) {
    const std::string key = random_text(in);
    const bool null_value = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    const std::string value = null_value ? "" : random_text(in);
    const std::string expected = pair_text(key, value);
    const int size = pick_size(in, expected.size());
    const std::vector<char> key_copy = exact_copy(key), value_copy = exact_copy(value);
    // Unbounded: the caller guarantees room for the whole pair.
    std::vector<char> dst(size < 0 ? expected.size() + 1 : static_cast<size_t>(size));
    const int result = json_format_pair(key_copy.data(), null_value ? nullptr : value_copy.data(),
                                        dst.empty() ? nullptr : dst.data(), size);
    if (size < 0) {
        fuzz_require(result == static_cast<int>(expected.size()), "json_format_pair: unbounded gives the full length");
        fuzz_require(expected == dst.data(), "json_format_pair: unbounded writes the whole pair");
        return;
    }
    const int written = std::min(static_cast<int>(expected.size()), size - 1);
    fuzz_require(result == written, "json_format_pair: characters written, or size - 1 when cut");
    if (size == 0) return;
    fuzz_require(memchr(dst.data(), '\0', dst.size()) != nullptr, "json_format_pair: NUL within size bytes");
    fuzz_require(expected.substr(0, static_cast<size_t>(written)) == dst.data(),
                 "json_format_pair: a prefix of the pair");
}

void check_find_close(FuzzedDataProvider &in) {
    const std::vector<char> text = exact_copy(random_text(in));
    const char *close = json_find_close(text.data());
    if (!close) return;
    const size_t at = static_cast<size_t>(close - text.data());
    fuzz_require(at > 0 && at + 1 < text.size(), "json_find_close: inside the text, after its opening");
    fuzz_require((text[0] == '{' && *close == '}') || (text[0] == '[' && *close == ']'),
                 "json_find_close: the partner of the first character");
}

// A buffer state a caller or a misbehaving edit could leave behind.
std::string random_state(FuzzedDataProvider &in) {
    std::string members;
    switch (in.ConsumeIntegralInRange<int>(0, 6)) {
    case 0: return "";
    case 1:  // flat, as the writer makes it
        for (int n = in.ConsumeIntegralInRange<int>(1, 4); n > 0; --n)
            members += (members.empty() ? "" : ",") + pair_text(in.ConsumeRandomLengthString(12), random_text(in));
        return "{" + members + "}";
    case 2:  // one member per line
        for (int n = in.ConsumeIntegralInRange<int>(0, 4); n > 0; --n)
            members += (members.empty() ? "" : ",\n") + pair_text(in.ConsumeRandomLengthString(12), random_text(in));
        return "{\n" + members + "\n}";
    case 3: return "{" + random_text(in);  // often never closed
    case 4: return "{}" + random_text(in);
    case 5: return "{\n}";
    default: return random_text(in);  // junk
    }
}

bool clean_key(const std::string &key) { return key.find_first_of(kStringSpecials) == std::string::npos; }

// One addition to buf (capacity bytes holding before); checks the outcome.
void check_add(const std::string &key, const std::string &value, bool null_value, std::vector<char> &buf,
               int capacity) {
    const std::string before = buf.data();
    const std::vector<char> key_copy = exact_copy(key), value_copy = exact_copy(value);
    const int result = json_add_string(key_copy.data(), null_value ? nullptr : value_copy.data(), buf.data(),
                                       capacity);
    fuzz_require(memchr(buf.data(), '\0', buf.size()) != nullptr, "json_add_string: text stays NUL-terminated");
    const std::string after = buf.data();
    const std::string pair = pair_text(key, null_value ? "" : value);

    // What the addition must give, and whether it has room.
    std::string expected;
    bool fits = false;
    const char *close = before.empty() ? nullptr : json_find_close(before.c_str());
    const size_t size = capacity < 0 ? 0 : static_cast<size_t>(capacity);
    if (capacity < 2) {
        fits = false;
    } else if (before.empty()) {
        expected = "{" + pair + "}";
        fits = pair.size() + 3 <= size;
    } else if (before[0] == '{' && close) {
        const size_t at = static_cast<size_t>(close - before.c_str());
        const bool lines = before[at - 1] == '\n';
        const std::string head = before.substr(0, lines ? at - 1 : at);
        const bool no_members = head.back() == '{';
        const std::string text = head + (lines ? (no_members ? "\n" : ",\n") : (no_members ? "" : ",")) + pair;
        expected = text + (lines ? "\n}" : "}");
        fits = before.size() + 6 < size && pair.size() < size - before.size() - 1 && text.size() + 2 < size;
    }

    if (result < 0) {
        fuzz_require(result == -1, "json_add_string: failure is -1");
        fuzz_require(!fits, "json_add_string: a member that fits is added");
        const bool tail_dropped = close && after == before.substr(0, static_cast<size_t>(close - before.c_str()) + 1);
        fuzz_require(after == before || tail_dropped, "json_add_string: -1 leaves the object as it was");
        return;
    }
    fuzz_require(fits, "json_add_string: a member that does not fit is refused");
    fuzz_require(result == static_cast<int>(after.size()), "json_add_string: the new length");
    fuzz_require(after == expected, "json_add_string: the old object plus the member");
    // A key is never escaped: a quote or backslash in it ends the string early.
    if (clean_key(key))
        fuzz_require(json_find_close(buf.data()) == buf.data() + result - 1,
                     "json_add_string: json_find_close finds the new end");
}

void check_add_sequence(FuzzedDataProvider &in) {
    int capacity;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: capacity = 1024; break;
    case 1: capacity = in.ConsumeIntegralInRange<int>(-2, 40); break;
    default: capacity = in.ConsumeIntegralInRange<int>(0, 10000); break;
    }
    std::vector<char> buf(capacity < 1 ? 1 : static_cast<size_t>(capacity), '#');
    std::string state = random_state(in);
    state.resize(std::min(state.size(), buf.size() - 1));
    memcpy(buf.data(), state.c_str(), state.size() + 1);

    fuzz_require(json_add_string("k", "v", nullptr, capacity) == -1, "json_add_string: no buffer, -1");
    for (int n = in.ConsumeIntegralInRange<int>(1, 8); n > 0 && in.remaining_bytes() > 0; --n) {
        std::string key = in.ConsumeRandomLengthString(24);
        key = key.c_str();
        const bool null_value = in.ConsumeIntegralInRange<int>(0, 15) == 0;
        check_add(key, null_value ? "" : random_text(in), null_value, buf, capacity);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    for (int steps = 0; steps < 16 && in.remaining_bytes() > 0; ++steps) {
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: check_escape(in); break;
        case 1: check_format_pair(in); break;
        case 2: check_find_close(in); break;
        default: check_add_sequence(in); break;
        }
    }
    return 0;
}
