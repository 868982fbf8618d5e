#include "common/BaseBuffer.h"

#include <algorithm>
#include <cstring>

void CBaseBuffer::SetBuffer(const void* data, size_t size) {
    size_ = 0;
    AppendBuffer(data, size);
}

void CBaseBuffer::AppendBuffer(const void* data, size_t size) {
    if (!data || size == 0) return;
    if (size_ + size > data_.size()) data_.resize(std::max(size_ + size, data_.size() * 2));
    std::memcpy(data_.data() + size_, data, size);
    size_ += size;
}

void CBaseBuffer::SetAvailSize(size_t size) {
    if (size > data_.size()) data_.resize(size, 0);
    size_ = size;
}

void CBaseBuffer::SetBufferSize(size_t capacity) { data_.resize(std::max(capacity, size_)); }

void CBaseBuffer::Delete(size_t count) {
    count = std::min(count, size_);
    if (count == 0) return;
    std::memmove(data_.data(), data_.data() + count, size_ - count);
    size_ -= count;
}
