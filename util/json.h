// A small JSON object writer: builds one object of string members in a
// caller-owned buffer by editing its text in place. Allocates nothing.
#ifndef NIMBRA_UTIL_JSON_H
#define NIMBRA_UTIL_JSON_H

#include "util/result.h"

// text with a backslash put before every character found in specials, in
// the writer's one static buffer (at most 4095 characters, valid until the
// next call). NULL text gives ""; NULL specials gives a plain copy.
const char *json_escape(const char *text, const char *specials);

// Writes "key":"value" (value escaped, key as is) into dst. size >= 0: at
// most size bytes with the NUL; the characters written, or size - 1 when the
// pair was cut. size < 0: no bound; the full length.
int json_format_pair(const char *key, const char *value, char *dst, int size);

// The bracket that closes the '{' or '[' text begins with, or NULL (other
// first character, or never closed). Brackets inside quoted strings do not
// count.
const char *json_find_close(const char *text);

// Adds the member "key":"value" to the object in buf (capacity size),
// keeping its flat or one-member-per-line layout; an empty buf starts a flat
// object. A positive number (the new length) when added; -1, with the object
// as it was, when it does not fit or buf holds no object.
int json_add_string(const char *key, const char *value, char *buf, int size);

#endif
