// Formatting into memory of the right size.
#ifndef NIMBRA_UTIL_FORMAT_H
#define NIMBRA_UTIL_FORMAT_H

#include <stddef.h>

// A vasprintf'ed string the caller frees, or nullptr.
char *alloc_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// asctime()'s text for tm ("Mon Dec  7 11:45:00 2026\n") in buffer, for
// every year: asctime itself may crash past 9999. "\n" when it does not
// fit in size bytes; kDateSize always fits.
struct tm;
constexpr size_t kDateSize = 48;
const char *format_date(const struct tm *tm, char *buffer, size_t size);

#endif
