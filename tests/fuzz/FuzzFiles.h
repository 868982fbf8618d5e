#pragma once
// Files for targets whose code under test reads or writes paths: one temporary folder
// per process, removed when the process ends normally, and whole-file helpers.
//
// The folder goes to /dev/shm where that is a writable folder: the saves under test
// flush to disk, which on a real disk costs about as much as the rest of a run.

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzzfiles {

inline char gRoot[PATH_MAX];  // plain storage: still valid while exit handlers run

inline void RemoveRoot() {
    std::error_code ignored;
    if (gRoot[0]) std::filesystem::remove_all(gRoot, ignored);
}

}  // namespace fuzzfiles

// The process's temporary folder, made on first use.
inline const std::string& FuzzTempRoot() {
    static const std::string root = [] {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path base = "/dev/shm";
        if (!fs::is_directory(base, ec) || access(base.c_str(), W_OK) != 0) base = fs::temp_directory_path(ec);
        std::string pattern = (base / "palo-fuzz-XXXXXX").string();
        if (pattern.size() >= PATH_MAX || !mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::strcpy(fuzzfiles::gRoot, pattern.c_str());
        std::atexit(fuzzfiles::RemoveRoot);
        return pattern;
    }();
    return root;
}

// The whole file into bytes; false when it cannot be read.
inline bool ReadWhole(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Replaces the file with the bytes; aborts when it cannot, as nothing after would mean anything.
inline void WriteWhole(const std::string& path, const void* data, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}
