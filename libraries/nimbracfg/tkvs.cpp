#include "libraries/nimbracfg/tkvs.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxListItems = 7;

// White space inside a line; line feeds end lines and are handled apart.
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

char *find_line_end(char *from, char *end) {
    while (from < end && *from != '\n') ++from;
    return from;
}

void clear(char *from, char *to) {
    if (to > from) memset(from, 0, static_cast<size_t>(to - from));
}

// Decodes a quoted value over the buffer from the opening quote on.
// Returns the cursor for the next line.
char *split_quoted_value(char *line, char *quote, char *end) {
    if (quote + 1 >= end || quote[1] == '"' || quote[1] == '\r' || quote[1] == '\n') {
        char *line_end = find_line_end(quote, end);
        clear(line, line_end);
        return line_end;
    }
    char *dst = quote;
    char *src = quote + 1;
    while (src < end && *src != '"' && *src != '\r' && *src != '\n') {
        if (*src != '\\') {
            *dst++ = *src++;
            continue;
        }
        char next = src + 1 < end ? src[1] : '\0';
        if (next == '\r' || next == '\n' || next == '\0') {
            ++src;
            break;
        }
        *dst++ = next == 'r' ? '\r' : next == 't' ? '\t' : next == 'n' ? '\n' : next;
        src += 2;
    }
    char *line_end = find_line_end(src, end);
    if (dst == quote) {
        clear(line, line_end);
    } else {
        clear(dst, line_end);
    }
    return line_end;
}

// Splits one "key = value" line starting at line; returns the next cursor.
char *split_key_line(char *data, char *line, char *end) {
    char *eq = line;
    while (eq < end && *eq != '=' && *eq != '\n') ++eq;
    if (eq >= end || *eq != '=') {
        clear(line, eq);
        return eq;
    }
    for (char *back = eq - 1; back >= data && is_blank(*back); --back) *back = '\0';
    char *value = eq;
    *value++ = '\0';
    while (value < end && is_blank(*value)) *value++ = '\0';

    if (value >= end || *value == '\n' || *value == '\0') {
        clear(line, value);
        return value;
    }
    if (*value == '"') return split_quoted_value(line, value, end);

    char *line_end = find_line_end(value, end);
    for (char *back = line_end - 1; back > value && is_blank(*back); --back) *back = '\0';
    return line_end;
}

void split_image(ini_image *image) {
    char *p = image->data;
    char *end = image->end;
    while (p < end) {
        char c = *p;
        if (c == '\r' || c == '\n' || c == '\t' || c == ' ') {
            *p++ = '\0';
        } else if (c == '\0') {
            ++p;
        } else if (c == ';') {
            char *line_end = find_line_end(p, end);
            clear(p, line_end);
            p = line_end;
        } else if (c == '[') {
            ++p;
            while (p < end && *p != ']' && *p != '\n' && *p != '\0') ++p;
            *p++ = '\0';  // p may be end: the extra byte, already NUL
        } else {
            p = split_key_line(image->data, p, end);
        }
    }
}

bool equal_nocase(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b)
        if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

char *next_token(char *p, char *end) {
    while (p < end && *p == '\0') ++p;
    return p < end ? p : nullptr;
}

// The ";" and the blanks right before it end the value.
void cut_comment(char *value) {
    char *semi = strchr(value, ';');
    if (!semi) return;
    *semi = '\0';
    while (semi > value && is_blank(semi[-1])) *--semi = '\0';
}

// Reads exactly size bytes; false on an error or a file that got shorter.
bool read_whole(int fd, char *buffer, size_t size) {
    while (size > 0) {
        const ssize_t got = read(fd, buffer, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

ini_image *tkvs_load_file(const char *path) {
    // Size and contents come from the same open file, so a configuration
    // replaced on disk meanwhile is read whole, old or new, never mixed.
    // Non-blocking: a FIFO put in its place must not hang the open.
    const int fd = path ? open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1;
    if (fd < 0) return nullptr;
    struct stat st;
    ini_image *image = nullptr;
    // A size that does not fit size_t (a 32-bit target with 64-bit file
    // offsets) cannot be allocated, and cut short it would load a fragment.
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        static_cast<uintmax_t>(st.st_size) < SIZE_MAX)
        image = static_cast<ini_image *>(calloc(1, sizeof(ini_image)));
    const size_t size = image ? static_cast<size_t>(st.st_size) : 0;
    if (image) image->data = static_cast<char *>(malloc(size + 1));
    if (!image || !image->data || !read_whole(fd, image->data, size)) {
        close(fd);
        tkvs_free_image(image);
        return nullptr;
    }
    close(fd);
    image->end = image->data + size;
    *image->end = '\0';
    split_image(image);
    return image;
}

void tkvs_free_image(ini_image *image) {
    if (!image) return;
    free(image->data);
    free(image);
}

char *tkvs_find(ini_image *image, const char *section, const char *key) {
    if (!image || !key) return nullptr;
    const char *current = "";
    char *end = image->end;
    for (char *token = next_token(image->data, end); token;) {
        char *after = token + strlen(token) + 1;
        if (*token == '[') {
            current = token + 1;
            token = next_token(after, end);
            continue;
        }
        char *value = next_token(after, end);
        if (!value) return nullptr;
        if ((!section || equal_nocase(section, current)) && equal_nocase(key, token)) {
            cut_comment(value);
            return value;
        }
        token = next_token(value + strlen(value) + 1, end);
    }
    return nullptr;
}

tkvs_handle *tkvs_init(const char *path) {
    if (!path) {
        fprintf(stderr, "%s: Invalid filename\n", "tkvs_init");
        return nullptr;
    }
    if (access(path, F_OK) != 0) {
        fprintf(stderr, "%s: File '%s' does not exist\n", "tkvs_init", path);
        return nullptr;
    }
    ini_image *image = tkvs_load_file(path);
    if (!image) {
        fprintf(stderr, "%s: Failed while loading file '%s'\n", "tkvs_init", path);
        return nullptr;
    }
    tkvs_handle *handle = static_cast<tkvs_handle *>(malloc(sizeof(tkvs_handle)));
    if (!handle) {
        tkvs_free_image(image);
        fprintf(stderr, "%s: Failed while allocating memory\n", "tkvs_init");
        return nullptr;
    }
    handle->path = path;
    handle->image = image;
    return handle;
}

void tkvs_release(tkvs_handle *handle) {
    if (!handle) return;
    tkvs_free_image(handle->image);
    free(handle);
}

char *tkvs_get_config(tkvs_handle *handle, const char *key) {
    if (!handle || !key) {
        fprintf(stderr, "%s: Error: Invalid parameter(s)\n", "tkvs_get_config");
        return nullptr;
    }
    char section[64];
    char name[128];
    int fields = sscanf(key, "%63[^.].%127s", section, name);
    if (fields == 1) {
        fprintf(stderr, "INI section dump not yet supported\n");
        return nullptr;
    }
    if (fields != 2) return nullptr;
    const char *value = tkvs_find(handle->image, section, name);
    if (!value) {
        fprintf(stderr, "Warning: '%s' not found\n", key);
        return nullptr;
    }
    return strdup(value);
}

char **tkvs_get_multi_value(tkvs_handle *handle, const char *key) {
    if (!handle || !key) {
        fprintf(stderr, "%s: Error: Invalid parameter(s)\n", "tkvs_get_multi_value");
        return nullptr;
    }
    char *value = tkvs_get_config(handle, key);
    if (!value) return nullptr;
    char **list = static_cast<char **>(calloc(kMaxListItems + 1, sizeof(char *)));
    int count = 0;
    if (list) {
        char *save = nullptr;
        for (char *item = strtok_r(value, ", |", &save); item && count < kMaxListItems;
             item = strtok_r(nullptr, ", |", &save)) {
            char *copy = strdup(item);
            if (!copy) break;
            list[count++] = copy;
        }
    }
    free(value);
    if (count == 0) {
        free(list);
        return nullptr;
    }
    return list;
}

void tkvs_free_list(char **list) {
    if (!list) return;
    for (char **item = list; *item; ++item) free(*item);
    free(list);
}
