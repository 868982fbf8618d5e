#pragma once
// A check that holds in every build type: the fuzzer reports an abort as a crash
// and keeps the input that caused it.

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                           \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

// Chunk lengths for feeding an input: taken from the input's first bytes, so that
// the fuzzer explores the cuts as well as the bytes.
struct ChunkPlan {
    const unsigned char* sizes;
    size_t count;
    size_t next = 0;
    size_t Next() { return count ? 1 + sizes[next++ % count] : 1; }
};
