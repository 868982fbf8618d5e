#pragma once
// Little-endian fields of the sensor's wire formats: reading them out of a byte
// buffer, writing them into one, and appending them to a byte vector. Every
// protocol, frame and file format of the tool is little-endian.

#include <cstdint>
#include <vector>

[[nodiscard]] inline uint16_t ReadLE16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

[[nodiscard]] inline uint32_t ReadLE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline void WriteLE16(uint8_t* p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

inline void WriteLE32(uint8_t* p, uint32_t value)
{
    for (int k = 0; k < 4; ++k)
        p[k] = static_cast<uint8_t>(value >> (8 * k));
}

inline void AppendLE16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void AppendLE32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int k = 0; k < 4; ++k)
        out.push_back(static_cast<uint8_t>(value >> (8 * k)));
}
