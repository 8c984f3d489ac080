// INI configuration store: loads a file into one buffer, splits it in place
// into section, key and value tokens and answers "section.key" look-ups.
// Messages go to stderr, prefixed with the operation's name.
#ifndef NIMBRA_TKVS_H
#define NIMBRA_TKVS_H

// One loaded file: data holds size + 1 bytes, NUL-terminated; after the
// split, tokens are NUL-separated strings ("[name" for a section header,
// then alternating keys and values). Owns data.
struct ini_image {
    char *data;
    char *end;  // data + file size
};

// path is borrowed from the caller; image is owned.
struct tkvs_handle {
    const char *path;
    ini_image *image;
};

// Opens and loads path; nullptr (with a message) on failure.
tkvs_handle *tkvs_init(const char *path);
// Frees the handle and its image; nullptr is ignored.
void tkvs_release(tkvs_handle *handle);
// A malloc'ed copy of the value of "section.key" (caller frees), or nullptr.
char *tkvs_get_config(tkvs_handle *handle, const char *key);
// The value split at runs of ", |": a calloc'ed array of 8 pointers holding
// malloc'ed copies of the first 7 items, null-terminated (caller frees all).
// nullptr when the key is absent or holds no item.
char **tkvs_get_multi_value(tkvs_handle *handle, const char *key);
// Frees a list of tkvs_get_multi_value; nullptr is ignored.
void tkvs_free_list(char **list);

// Reads and splits a whole file; nullptr (no message) when it cannot be
// read or is empty.
ini_image *tkvs_load_file(const char *path);
// The value token of key in section (nullptr: any section), or nullptr.
// Case-insensitive; the first match in file order wins. Cuts the value at
// its first ";" inside the image.
char *tkvs_find(ini_image *image, const char *section, const char *key);
void tkvs_free_image(ini_image *image);

#endif
