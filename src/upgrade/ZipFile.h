#pragma once
// A small zip reader and writer over zlib, for the firmware archives of builds
// without libzip (Windows). Plain C++ on every system, so that its tests run on
// Linux against archives other programs wrote.
//
// Reading covers what firmware archives use: one disk, entries stored or deflated,
// the zip64 end records and size fields. Encrypted entries and other methods are
// refused by name. Every offset and size is checked against the file before it is
// used, and an entry's data is checked against its CRC-32 and both sizes.
//
// Layout (all little-endian): [local header, name, extra, data]... central
// directory [header, name, extra, comment]... [zip64 end record, zip64 locator]
// end record [comment].

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "upgrade/CUnzipper.h"

struct ZipEntry {
    std::string name;                 // as stored (UTF-8 or the archive's code page)
    uint16_t madeBy = 0;              // high byte: the system whose attributes follow
    uint16_t flags = 0;
    uint16_t method = 0;              // 0 stored, 8 deflated
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localHeaderOffset = 0;
    uint32_t externalAttributes = 0;

    [[nodiscard]] bool IsFolder() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
    // A Unix symbolic link (the type in the high half of the attributes).
    [[nodiscard]] bool IsSymbolicLink() const;
};

class ZipReader {
public:
    ZipReader() = default;
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Opens the archive and reads its central directory: false with the reason in
    // why when the file is not a zip this reader can read, is inconsistent, or
    // holds more than maxEntries entries (then why is "the archive has too many entries").
    bool Open(const std::string& path, size_t maxEntries, std::string& why);
    [[nodiscard]] const std::vector<ZipEntry>& Entries() const { return entries_; }

    // Hands entry index's data to write in pieces of at most 64 KiB, in order.
    // Returns "" when the whole entry was read and matched its sizes and CRC-32, or
    // when write returned false (the caller knows why it stopped); otherwise the
    // reason ("the entry NAME is damaged: ..."). Never hands out more than the
    // entry's size plus one piece.
    [[nodiscard]] std::string Extract(size_t index, const std::function<bool(const char*, size_t)>& write);

private:
    bool ReadAt(uint64_t offset, void* data, size_t size);

    std::FILE* file_ = nullptr;
    uint64_t fileSize_ = 0;
    uint64_t directoryStart_ = 0;  // where entry data must end
    std::vector<ZipEntry> entries_;
};

// Writes a zip at path holding each (name in the archive, file on disk): deflated
// at level 9, or stored when deflate does not make it smaller; names flagged as
// UTF-8. False with the reason in *error when a file cannot be read or the zip
// written; nothing is left at path then.
bool WriteZipFile(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries,
                  std::string* error);

// CUnzipper::Unzip over this reader (the Windows build's; every build has it, for tests).
[[nodiscard]] UnzipResult UnzipWithZipReader(const std::string& archivePath, const std::string& destination,
                                             bool overwrite);
