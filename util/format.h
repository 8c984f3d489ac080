// Formatting into memory of the right size.
#ifndef NIMBRA_UTIL_FORMAT_H
#define NIMBRA_UTIL_FORMAT_H

// A vasprintf'ed string the caller frees, or nullptr.
char *alloc_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
