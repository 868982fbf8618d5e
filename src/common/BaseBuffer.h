#pragma once
// A growable byte buffer: capacity (SetBufferSize) and bytes held (GetAvailSize).

#include <cstddef>
#include <cstdint>
#include <vector>

class CBaseBuffer {
public:
    // Replaces the content with a copy of size bytes.
    void SetBuffer(const void* data, size_t size);
    // Appends a copy of size bytes.
    void AppendBuffer(const void* data, size_t size);
    // The held bytes; valid until the next call that changes the size.
    [[nodiscard]] uint8_t* GetBuffer() { return data_.data(); }
    [[nodiscard]] const uint8_t* GetBuffer() const { return data_.data(); }
    [[nodiscard]] size_t GetAvailSize() const { return size_; }
    // Sets the number of bytes held; grows the capacity when needed (new bytes are zero).
    void SetAvailSize(size_t size);
    // Sets the capacity; never drops below the bytes held.
    void SetBufferSize(size_t capacity);
    [[nodiscard]] size_t GetBufferSize() const { return data_.size(); }
    // Removes count bytes from the front (all when count is larger).
    void Delete(size_t count);

private:
    std::vector<uint8_t> data_;  // capacity; the first size_ bytes are held
    size_t size_ = 0;
};
