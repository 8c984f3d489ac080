#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string g_scratch;

int remove_entry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

void remove_scratch() {
    if (!g_scratch.empty()) nftw(g_scratch.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

void fuzz_require(bool ok, const char *what) {
    if (ok) return;
    dprintf(STDERR_FILENO, "invariant violated: %s\n", what);
    abort();
}

void silence_program_stderr() {
    // Not dup2() on fd 2: libFuzzer prints its progress and the sanitizers
    // their reports there; only the program's own stream goes quiet.
    FILE *null = fopen("/dev/null", "w");
    fuzz_require(null != nullptr, "/dev/null opens");
    stderr = null;
}

void silence_stdout() {
    fflush(stdout);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    fuzz_require(null >= 0 && dup2(null, STDOUT_FILENO) == STDOUT_FILENO, "stdout goes to /dev/null");
    close(null);
}

const std::string &fuzz_scratch_dir() {
    if (g_scratch.empty()) {
        struct stat st;
        const char *tmp = getenv("TMPDIR");
        std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0
                               ? "/dev/shm"
                               : (tmp && *tmp ? tmp : "/tmp");
        std::string pattern = base + "/nimbra_fuzz.XXXXXX";
        fuzz_require(mkdtemp(&pattern[0]) != nullptr, "scratch directory made");
        g_scratch = pattern;
        atexit(remove_scratch);
    }
    return g_scratch;
}

void write_bytes(const std::string &path, const uint8_t *data, size_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    fuzz_require(fd >= 0, "scratch file opens");
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        fuzz_require(n > 0, "scratch file written");
        data += n;
        size -= static_cast<size_t>(n);
    }
    close(fd);
}

void write_bytes(const std::string &path, const std::string &text) {
    write_bytes(path, reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

std::vector<std::string> split_input(const uint8_t *data, size_t size, const std::string &separator) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = input.find(separator, from)) != std::string::npos; from = at + separator.size())
        parts.push_back(input.substr(from, at - from));
    parts.push_back(input.substr(from));
    return parts;
}

std::vector<char> exact_copy(const std::string &text) {
    const char *c = text.c_str();
    return std::vector<char>(c, c + strlen(c) + 1);
}
