// The simulator's firmware image format: a small header that names the version.

#include "sim/VirtualSensor.h"

#include <cstring>
#include <fstream>

#include "common/ByteOrder.h"

namespace {
constexpr char IMAGE_MAGIC[8] = {'P', '5', '2', '0', 'G', 'S', 'I', 'M'};
constexpr size_t HEADER_FIXED = sizeof(IMAGE_MAGIC) + 2;
}  // namespace

std::vector<uint8_t> BuildSimFirmwareImage(const std::string& version, size_t bodySize)
{
    const size_t textLength = version.size() > 0xFFFF ? 0xFFFF : version.size();
    std::vector<uint8_t> image(HEADER_FIXED + textLength + bodySize);
    std::memcpy(image.data(), IMAGE_MAGIC, sizeof(IMAGE_MAGIC));
    WriteLE16(&image[8], static_cast<uint16_t>(textLength));
    if (textLength > 0) {
        std::memcpy(image.data() + HEADER_FIXED, version.data(), textLength);
    }
    // Filler that depends on the position, so that a lost or reordered packet changes the checksum.
    uint8_t* body = image.data() + HEADER_FIXED + textLength;
    for (size_t i = 0; i < bodySize; ++i) {
        body[i] = static_cast<uint8_t>((i * 131 + 7) ^ (i >> 8));
    }
    return image;
}

bool WriteSimFirmwareImage(const std::string& path, const std::string& version, size_t bodySize)
{
    const std::vector<uint8_t> image = BuildSimFirmwareImage(version, bodySize);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return static_cast<bool>(out.flush());
}

std::optional<std::string> SimFirmwareImageVersion(const std::vector<uint8_t>& image)
{
    if (image.size() < HEADER_FIXED || std::memcmp(image.data(), IMAGE_MAGIC, sizeof(IMAGE_MAGIC)) != 0) {
        return std::nullopt;
    }
    const size_t textLength = ReadLE16(&image[8]);
    if (textLength == 0 || image.size() < HEADER_FIXED + textLength) {
        return std::nullopt;
    }
    return std::string(image.begin() + HEADER_FIXED, image.begin() + static_cast<std::ptrdiff_t>(HEADER_FIXED + textLength));
}
