#include "util/shell_safe.h"

#include <ctype.h>
#include <string.h>

namespace {

// Paths and command lines composed from a directory are formatted into
// 128-byte buffers ("%s/MAC", "%s/sv status /var/service/*" with the root
// directory); a cut one would name another file.
constexpr size_t kMaxDirectoryLength = 80;

// "." and "..": a path through them is not the place it names, and an
// interface name made of them passes the /sys/class/net test.
bool is_dot_name(const char *name, size_t length) {
    return (length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.');
}

}  // namespace

int is_shell_safe(const char *value) {
    if (!value || !*value) return 0;
    for (const char *c = value; *c; ++c) {
        unsigned char ch = static_cast<unsigned char>(*c);
        if (!isascii(ch) || !(isalnum(ch) || strchr("/._-+@,=:", ch))) return 0;
    }
    return 1;
}

int is_safe_directory(const char *value) {
    if (!is_shell_safe(value) || value[0] != '/' || strlen(value) > kMaxDirectoryLength) return 0;
    size_t components = 0;
    for (const char *p = value; *p;) {
        const size_t length = strcspn(p, "/");
        if (is_dot_name(p, length)) return 0;
        components += length > 0;
        p += length + (p[length] == '/');
    }
    return components > 0;
}

int is_safe_interface(const char *name) {
    return is_shell_safe(name) && !strchr(name, '/') && !is_dot_name(name, strlen(name));
}
