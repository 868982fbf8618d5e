// The simulator's firmware image format: a small header that names the version.

#include "sim/VirtualSensor.h"

#include <cstring>
#include <fstream>

#include "common/ByteOrder.h"

namespace {
constexpr char kImageMagic[8] = {'P', '5', '2', '0', 'G', 'S', 'I', 'M'};
constexpr size_t kHeaderFixed = sizeof(kImageMagic) + 2;
}  // namespace

std::vector<uint8_t> BuildSimFirmwareImage(const std::string& version, size_t bodySize)
{
    const size_t textLength = version.size() > 0xFFFF ? 0xFFFF : version.size();
    std::vector<uint8_t> image(kHeaderFixed + textLength + bodySize);
    std::memcpy(image.data(), kImageMagic, sizeof(kImageMagic));
    WriteLE16(&image[8], static_cast<uint16_t>(textLength));
    if (textLength > 0) {
        std::memcpy(image.data() + kHeaderFixed, version.data(), textLength);
    }
    // Filler that depends on the position, so that a lost or reordered packet changes the checksum.
    uint8_t* body = image.data() + kHeaderFixed + textLength;
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
    if (image.size() < kHeaderFixed || std::memcmp(image.data(), kImageMagic, sizeof(kImageMagic)) != 0) {
        return std::nullopt;
    }
    const size_t textLength = ReadLE16(&image[8]);
    if (textLength == 0 || image.size() < kHeaderFixed + textLength) {
        return std::nullopt;
    }
    return std::string(image.begin() + kHeaderFixed, image.begin() + static_cast<std::ptrdiff_t>(kHeaderFixed + textLength));
}
