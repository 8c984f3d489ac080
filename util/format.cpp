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
    // Names and widths as asctime's; the program never sets a locale.
    if (strftime(buffer, size, "%a %b %e %H:%M:%S %Y\n", tm) == 0) snprintf(buffer, size, "\n");
    return buffer;
}
