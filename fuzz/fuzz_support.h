// Pieces shared by the fuzz targets: a scratch directory, files written from
// the input, exact-size copies (so that AddressSanitizer sees every overrun)
// and invariant checks that turn a logic fault into a finding.
#ifndef NIMBRA_FUZZ_FUZZ_SUPPORT_H
#define NIMBRA_FUZZ_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Aborts with "invariant violated: what" on fd 2 unless ok.
void fuzz_require(bool ok, const char *what);

// Points the program's stderr stream at /dev/null. libFuzzer and the
// sanitizers keep writing to fd 2, so findings and statistics stay visible.
void silence_program_stderr();
// Points stdout (fd 1 and the stream) at /dev/null.
void silence_stdout();

// A fresh directory made on first use (under /dev/shm when there is one, as
// it is faster), removed with everything in it when the process exits.
const std::string &fuzz_scratch_dir();

// Replaces path's contents with size bytes of data; aborts when it cannot.
void write_bytes(const std::string &path, const uint8_t *data, size_t size);
void write_bytes(const std::string &path, const std::string &text);

// The input cut at every occurrence of separator (the separators dropped).
std::vector<std::string> split_input(const uint8_t *data, size_t size, const std::string &separator);

// text in a heap block of exactly strlen + 1 bytes: one byte past its NUL is
// outside the allocation.
std::vector<char> exact_copy(const std::string &text);

#endif
