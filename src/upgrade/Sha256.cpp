#include "upgrade/Sha256.h"

#include <cstdio>
#include <stdexcept>

#include <openssl/evp.h>

struct CSha256::State {
    EVP_MD_CTX* context = nullptr;
};

CSha256::CSha256() : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    if (!state_->context || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(state_->context);
        throw std::runtime_error("SHA-256 is not available");
    }
}

CSha256::~CSha256() { EVP_MD_CTX_free(state_->context); }

void CSha256::Update(const void* data, size_t length) {
    if (length > 0) EVP_DigestUpdate(state_->context, data, length);
}

std::string CSha256::HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(state_->context, digest, &length);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

std::string Sha256OfFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {};
    CSha256 sha;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) sha.Update(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? std::string() : sha.HexDigest();
}

std::string Sha256OfBytes(const void* data, size_t length) {
    CSha256 sha;
    sha.Update(data, length);
    return sha.HexDigest();
}
