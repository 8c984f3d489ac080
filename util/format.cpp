#include "util/format.h"

#include <stdarg.h>
#include <stdio.h>
#include <time.h>

char *alloc_printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    char *text = nullptr;
    int len = vasprintf(&text, format, args);
    va_end(args);
    return len < 0 ? nullptr : text;
}

const char *format_date(const struct tm *tm, char *buffer, size_t size) {
    // Names and widths as asctime's; the program never sets a locale. The
    // year as asctime writes it: %Y gains a '+' past 9999 in some C libraries.
    const size_t length = strftime(buffer, size, "%a %b %e %H:%M:%S ", tm);
    if (length == 0) snprintf(buffer, size, "\n");
    else snprintf(buffer + length, size - length, "%lld\n", 1900LL + tm->tm_year);
    return buffer;
}
