#include "fuzz/fuzz_support.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "util/process.h"

std::string g_command_output = "-";

namespace {

std::string g_dir;

int refuse_run(const char *) {
    fuzz_require(false, "the code under test runs no command");
    return -1;
}

FILE *canned_open(const char *) {
    return g_command_output == "-" ? nullptr : fmemopen(&g_command_output[0], g_command_output.size(), "r");
}

const process_runner kCannedRunner = {refuse_run, canned_open, fclose};

}  // namespace

void fuzz_require(bool ok, const char *what) {
    if (ok) return;
    dprintf(STDERR_FILENO, "invariant violated: %s\n", what);
    abort();
}

const std::string &fuzz_dir() { return g_dir; }

void write_bytes(const std::string &path, const std::string &text) {
    // A directory left by an earlier input would refuse every later file.
    std::filesystem::remove_all(path);
    if (text == "/") std::filesystem::create_directory(path);
    else std::ofstream(path, std::ios::binary) << text;
}

std::vector<char> exact_copy(const std::string &text) {
    return std::vector<char>(text.c_str(), text.c_str() + strlen(text.c_str()) + 1);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // fd 2 stays for libFuzzer and the sanitizers; only the program's streams go quiet.
    stdout = fopen("/dev/null", "w");
    stderr = fopen("/dev/null", "w");
    char pattern[] = "/tmp/nimbra_fuzz.XXXXXX";
    fuzz_require(stderr && stdout && mkdtemp(pattern), "scratch set up");
    g_dir = pattern;
    atexit([] { std::filesystem::remove_all(g_dir); });
    std::filesystem::create_directories(g_dir + "/base/shares/usr/bin/db");
    for (const char *sub : {"/ram/status", "/data", "/db"}) std::filesystem::create_directories(g_dir + sub);
    write_bytes(g_dir + "/nimbra.ini", "[nimbra_path]\nbase=" + g_dir + "/base\nramdisk=" + g_dir + "/ram\ndata=" +
                                           g_dir + "/data\ndb=" + g_dir + "/db\n[network]\nifnames=br0 eth1\n");
    setenv("NIMBRA_CONFIG", (g_dir + "/nimbra.ini").c_str(), 1);
    set_process_runner(&kCannedRunner);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_one(std::string(reinterpret_cast<const char *>(data), size));
    return 0;
}
