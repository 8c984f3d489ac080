#include "util/format.h"

#include <stdarg.h>
#include <stdio.h>

char *alloc_printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    char *text = nullptr;
    int len = vasprintf(&text, format, args);
    va_end(args);
    return len < 0 ? nullptr : text;
}
