#include "Utf8Text.h"

size_t Utf8CharacterCount(std::string_view text) {
    size_t count = 0;
    for (char byte : text) count += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    return count;
}
