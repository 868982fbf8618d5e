// Entry names on Windows. Some names that are plain elsewhere are not files here:
// "COM5" or "nul.bin" in any folder is a device (writing the entry would go to a
// serial port or nowhere), "APP0.bin:x" is a stream of APP0.bin, a trailing dot or
// space is dropped ("APP0.bin." is APP0.bin), and letters in either case name one
// file. Such archives are refused before anything is written.

#include "upgrade/UnpackFolder.h"

#include <cctype>
#include <cstring>

namespace {

bool IsDeviceName(std::string base) {
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$") {
        return true;
    }
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           std::isdigit(static_cast<unsigned char>(base[3]));
}

}  // namespace

bool IsEntryNameUsableHere(const std::string& name, std::string& why) {
    size_t start = 0;
    while (start < name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        const std::string part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        for (const char c : part) {
            if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
                why = "has an entry whose name Windows cannot use: " + name;
                return false;
            }
        }
        if (part.back() == '.' || part.back() == ' ' || IsDeviceName(part.substr(0, part.find('.')))) {
            why = "has an entry whose name Windows cannot use: " + name;
            return false;
        }
    }
    return true;
}

std::string EntryNameKey(const std::string& name) {
    std::string key = name;
    for (char& c : key) {
        c = c == '\\' ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return key;
}
