// The one harness of the fuzz targets: libFuzzer's entry points, and once a
// scratch tree with the configuration that names it (found through
// NIMBRA_CONFIG), the program's stdout and stderr silenced, and a process
// runner that starts nothing. Each target defines fuzz_one().
#ifndef NIMBRA_FUZZ_FUZZ_SUPPORT_H
#define NIMBRA_FUZZ_FUZZ_SUPPORT_H

#include <string>
#include <vector>

void fuzz_one(const std::string &input);

// Aborts with "invariant violated: what" unless ok: a logic fault is a finding.
void fuzz_require(bool ok, const char *what);
// The scratch tree: base/, ram/, data/ and db/ of the configuration.
const std::string &fuzz_dir();
// Replaces path's contents with text; "/" makes path a directory instead.
void write_bytes(const std::string &path, const std::string &text);
// What each command read through the process runner prints ("-": it cannot start).
extern std::string g_command_output;
// The text up to its first NUL in a heap block of exactly that size, so
// that a read past the NUL is an AddressSanitizer finding.
std::vector<char> exact_copy(const std::string &text);

#endif
