// SHA-256 with Windows' own BCrypt (CNG).

#include "upgrade/Sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

struct CSha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<UCHAR> object;
    bool finished = false;
};

CSha256::CSha256() : state_(std::make_unique<State>())
{
    if (BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        state_->algorithm = nullptr;
        return;
    }
    DWORD objectSize = 0;
    ULONG written = 0;
    if (BCryptGetProperty(state_->algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                          sizeof(objectSize), &written, 0) != 0) {
        return;
    }
    state_->object.resize(objectSize);
    if (BCryptCreateHash(state_->algorithm, &state_->hash, state_->object.data(), objectSize, nullptr, 0, 0) != 0) {
        state_->hash = nullptr;
    }
}

CSha256::~CSha256()
{
    if (state_->hash != nullptr) {
        BCryptDestroyHash(state_->hash);
    }
    if (state_->algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(state_->algorithm, 0);
    }
}

void CSha256::Update(const void* data, size_t length)
{
    const auto* bytes = static_cast<const UCHAR*>(data);
    while (state_->hash != nullptr && !state_->finished && length > 0) {
        const ULONG chunk = static_cast<ULONG>(std::min<size_t>(length, 1u << 30));
        BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), chunk, 0);
        bytes += chunk;
        length -= chunk;
    }
}

std::string CSha256::HexDigest()
{
    UCHAR digest[32];
    // A digest that could not be computed is empty, never a wrong value.
    if (state_->hash == nullptr || state_->finished || BCryptFinishHash(state_->hash, digest, sizeof(digest), 0) != 0) {
        state_->finished = true;
        return {};
    }
    state_->finished = true;
    std::string hex;
    char pair[3];
    for (const UCHAR byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

std::string Sha256OfFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    CSha256 sha;
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.gcount() > 0) {
            sha.Update(buffer.data(), static_cast<size_t>(in.gcount()));
        }
    }
    if (in.bad()) {
        return {};
    }
    return sha.HexDigest();
}

std::string Sha256OfBytes(const void* data, size_t length)
{
    CSha256 sha;
    sha.Update(data, length);
    return sha.HexDigest();
}
