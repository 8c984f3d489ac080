// Temporary trees and descriptor counts, for every test binary.
#ifndef NIMBRA_TESTS_TEMP_DIR_H
#define NIMBRA_TESTS_TEMP_DIR_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

struct temp_dir {
    temp_dir() {
        char pattern[] = "/tmp/nimbra_test.XXXXXX";
        if (!mkdtemp(pattern)) abort();  // never a path below ""
        path = pattern;
    }
    ~temp_dir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
    std::string path;
};

inline void write_text(const std::string &path, const std::string &text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline long open_descriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
}

inline std::string read_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#endif
