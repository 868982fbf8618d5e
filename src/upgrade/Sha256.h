#pragma once
// SHA-256 of update archives (OpenSSL libcrypto), as lower-case hex text.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Incremental digest: Update as the bytes arrive, then HexDigest once.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void Update(const void* data, size_t length);
    // The digest of everything updated so far; the object is finished afterwards.
    [[nodiscard]] std::string HexDigest();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest of a whole file; empty when the file cannot be read.
[[nodiscard]] std::string Sha256OfFile(const std::string& path);
[[nodiscard]] std::string Sha256OfBytes(const void* data, size_t length);
