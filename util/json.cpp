#include "util/json.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr size_t kEscapeBufferSize = 4096;
// What a JSON string cannot hold bare among the texts the reports write.
const char kStringSpecials[] = "\\\"";
// "{" and the NUL around the first pair.
constexpr size_t kMinCapacity = 2;
// A separator, the closing "\n}" and the NUL must still fit after the text.
constexpr size_t kAddHeadroom = 6;

char g_escaped[kEscapeBufferSize];

// The pair with snprintf's result: the full length, whether or not it fitted.
int write_pair(const char *key, const char *value, char *dst, size_t size) {
    return snprintf(dst, size, "\"%s\":\"%s\"", key ? key : "", json_escape(value, kStringSpecials));
}

}  // namespace

const char *json_escape(const char *text, const char *specials) {
    constexpr size_t limit = kEscapeBufferSize - 1;
    size_t length = 0;
    if (text) {
        if (!specials) specials = "";
        for (const char *p = text; *p; ++p) {
            const bool special = strchr(specials, *p) != nullptr;
            // A backslash cut off from its character would escape whatever
            // follows the value, so an escape goes in whole or the text ends.
            if (length + (special ? 2 : 1) > limit) break;
            if (special) g_escaped[length++] = '\\';
            g_escaped[length++] = *p;
        }
    }
    g_escaped[length] = '\0';
    return g_escaped;
}

int json_format_pair(const char *key, const char *value, char *dst, int size) {
    if (size < 0)
        return sprintf(dst, "\"%s\":\"%s\"", key ? key : "", json_escape(value, kStringSpecials));
    int full = write_pair(key, value, dst, static_cast<size_t>(size));
    if (full < 0) return full;
    return full < size ? full : size - 1;
}

const char *json_find_close(const char *text) {
    if (!text) return nullptr;
    const char open = text[0];
    char close;
    if (open == '{')
        close = '}';
    else if (open == '[')
        close = ']';
    else
        return nullptr;
    // Values are file contents written by other programs; a brace inside
    // one must not end the object early.
    bool quoted = false;
    int depth = 0;
    for (const char *p = text; *p; ++p) {
        if (quoted) {
            if (*p == '\\' && p[1])
                ++p;
            else if (*p == '"')
                quoted = false;
        } else if (*p == '"') {
            quoted = true;
        } else if (*p == open) {
            ++depth;
        } else if (*p == close) {
            if (depth == 1) return p;
            --depth;
        }
    }
    return nullptr;
}

int json_add_string(const char *key, const char *value, char *buf, int size) {
    if (!buf || size < static_cast<int>(kMinCapacity)) return -1;
    const size_t capacity = static_cast<size_t>(size);

    if (buf[0] == '\0') {
        buf[0] = '{';
        const size_t bound = capacity - 2;
        const int full = write_pair(key, value, buf + 1, bound);
        if (full < 0 || static_cast<size_t>(full) >= bound) {
            buf[0] = '\0';
            return -1;
        }
        memcpy(buf + 1 + full, "}", 2);
        return full + 2;
    }

    if (buf[0] != '{') return -1;
    const char *found = json_find_close(buf);
    if (!found) return -1;
    const size_t length = strlen(buf);
    if (length + kAddHeadroom >= capacity) return -1;

    char *close = buf + (found - buf);
    const bool line_layout = close[-1] == '\n';
    char *separator_at = line_layout ? close - 1 : close;
    // An object without members (only a caller can hand one over) takes no comma.
    const bool no_members = separator_at[-1] == '{';
    const char *separator = line_layout ? (no_members ? "\n" : ",\n") : (no_members ? "" : ",");
    const char *ending = line_layout ? "\n}" : "}";

    char *pair = separator_at + strlen(separator);
    memcpy(separator_at, separator, strlen(separator));
    const size_t room = capacity - length - 1;
    const int full = write_pair(key, value, pair, room);
    const size_t new_length = static_cast<size_t>(pair - buf) + static_cast<size_t>(full < 0 ? 0 : full);
    if (full < 0 || static_cast<size_t>(full) >= room || new_length + 2 >= capacity) {
        memcpy(separator_at, ending, strlen(ending) + 1);
        return -1;
    }
    memcpy(pair + full, ending, strlen(ending) + 1);
    return static_cast<int>(new_length + strlen(ending));
}
