#include "upgrade/ZipFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include <zlib.h>

#include "app/StringTable.h"
#include "upgrade/UnpackFolder.h"

namespace fs = std::filesystem;

// ---- the format --------------------------------------------------------------

namespace {

constexpr uint32_t LOCAL_HEADER_SIGNATURE = 0x04034b50;
constexpr uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014b50;
constexpr uint32_t END_SIGNATURE = 0x06054b50;
constexpr uint32_t ZIP64_END_SIGNATURE = 0x06064b50;
constexpr uint32_t ZIP64_LOCATOR_SIGNATURE = 0x07064b50;
constexpr size_t LOCAL_HEADER_SIZE = 30;
constexpr size_t CENTRAL_HEADER_SIZE = 46;
constexpr size_t END_SIZE = 22;
constexpr size_t ZIP64_LOCATOR_SIZE = 20;
constexpr size_t ZIP64_END_SIZE = 56;
constexpr size_t MAX_COMMENT = 0xffff;
constexpr uint16_t ZIP64_EXTRA_ID = 0x0001;
constexpr uint16_t METHOD_STORED = 0;
constexpr uint16_t METHOD_DEFLATED = 8;
constexpr uint16_t FLAG_ENCRYPTED = 0x0001;
constexpr uint16_t FLAG_UTF8 = 0x0800;
constexpr uint8_t SYSTEM_UNIX = 3;
constexpr size_t ZIP_PIECE_BYTES = 64 * 1024;
// A central directory larger than this is not one of a firmware archive.
constexpr uint64_t MAX_DIRECTORY_BYTES = 64ull * 1024 * 1024;

uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Get64(const unsigned char* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }

void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xffff));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

bool Seek(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<int64_t>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool FileSize(std::FILE* file, uint64_t& size) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0) return false;
    const int64_t end = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0) return false;
    const int64_t end = ftello(file);
#endif
    if (end < 0) return false;
    size = static_cast<uint64_t>(end);
    return true;
}

// The words libzip uses for the same faults, so a reason reads alike on every system.
std::string ZipCannotOpen(const char* what) { return std::string("the archive cannot be opened: ") + what; }

}  // namespace

bool ZipEntry::IsSymbolicLink() const {
    if ((madeBy >> 8) != SYSTEM_UNIX) return false;
    return ((externalAttributes >> 16) & 0170000) == 0120000;
}

// ---- reading -----------------------------------------------------------------

ZipReader::~ZipReader() {
    if (file_) std::fclose(file_);
}

bool ZipReader::ReadAt(uint64_t offset, void* data, size_t size) {
    if (offset > fileSize_ || size > fileSize_ - offset) return false;
    return Seek(file_, offset) && std::fread(data, 1, size, file_) == size;
}

bool ZipReader::Open(const std::string& path, size_t maxEntries, std::string& why) {
    entries_.clear();
    if (file_) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        why = ZipCannotOpen(std::strerror(errno));
        return false;
    }
    if (!FileSize(file_, fileSize_)) {
        why = ZipCannotOpen("Read error");
        return false;
    }
    if (fileSize_ < END_SIZE) {
        why = ZipCannotOpen("Not a zip archive");
        return false;
    }

    // The end record is the last "PK\5\6" whose comment reaches no further than the file.
    const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(fileSize_, END_SIZE + MAX_COMMENT));
    std::vector<unsigned char> tail(tailSize);
    if (!ReadAt(fileSize_ - tailSize, tail.data(), tailSize)) {
        why = ZipCannotOpen("Read error");
        return false;
    }
    size_t at = tailSize - END_SIZE + 1;
    bool found = false;
    while (at-- > 0) {
        if (Get32(&tail[at]) == END_SIGNATURE && at + END_SIZE + Get16(&tail[at + 20]) <= tailSize) {
            found = true;
            break;
        }
    }
    if (!found) {
        why = ZipCannotOpen("Not a zip archive");
        return false;
    }
    const uint64_t endOffset = fileSize_ - tailSize + at;
    const unsigned char* end = &tail[at];
    uint64_t count = Get16(end + 10);
    uint64_t directorySize = Get32(end + 12);
    uint64_t directoryOffset = Get32(end + 16);
    uint64_t directoryEnd = endOffset;
    if (Get16(end + 4) != 0 || Get16(end + 6) != 0 || Get16(end + 8) != Get16(end + 10)) {
        why = ZipCannotOpen("Multi-disk zip archives not supported");
        return false;
    }
    if (count == 0xffff || directorySize == 0xffffffff || directoryOffset == 0xffffffff) {
        unsigned char locator[ZIP64_LOCATOR_SIZE];
        unsigned char record[ZIP64_END_SIZE];
        if (endOffset < ZIP64_LOCATOR_SIZE || !ReadAt(endOffset - ZIP64_LOCATOR_SIZE, locator, sizeof locator) ||
            Get32(locator) != ZIP64_LOCATOR_SIGNATURE) {
            why = ZipCannotOpen("Zip archive inconsistent");
            return false;
        }
        const uint64_t recordOffset = Get64(locator + 8);
        if (Get32(locator + 4) != 0 || Get32(locator + 16) > 1 || recordOffset > endOffset - ZIP64_LOCATOR_SIZE ||
            !ReadAt(recordOffset, record, sizeof record) || Get32(record) != ZIP64_END_SIGNATURE) {
            why = ZipCannotOpen("Zip archive inconsistent");
            return false;
        }
        if (Get32(record + 16) != 0 || Get32(record + 20) != 0 || Get64(record + 24) != Get64(record + 32)) {
            why = ZipCannotOpen("Multi-disk zip archives not supported");
            return false;
        }
        count = Get64(record + 32);
        directorySize = Get64(record + 40);
        directoryOffset = Get64(record + 48);
        directoryEnd = recordOffset;
    }
    if (count > maxEntries) {
        why = "the archive has too many entries";
        return false;
    }
    if (directoryOffset > directoryEnd || directorySize > directoryEnd - directoryOffset ||
        directorySize > MAX_DIRECTORY_BYTES || directorySize < count * CENTRAL_HEADER_SIZE) {
        why = ZipCannotOpen("Zip archive inconsistent");
        return false;
    }
    directoryStart_ = directoryOffset;

    std::vector<unsigned char> directory(static_cast<size_t>(directorySize));
    if (!ReadAt(directoryOffset, directory.data(), directory.size())) {
        why = ZipCannotOpen("Read error");
        return false;
    }
    size_t pos = 0;
    std::set<std::string> names;
    for (uint64_t i = 0; i < count; ++i) {
        const unsigned char* h = directory.data() + pos;
        if (directory.size() - pos < CENTRAL_HEADER_SIZE || Get32(h) != CENTRAL_HEADER_SIGNATURE) {
            why = ZipCannotOpen("Zip archive inconsistent");
            return false;
        }
        const size_t nameLength = Get16(h + 28), extraLength = Get16(h + 30), commentLength = Get16(h + 32);
        if (directory.size() - pos - CENTRAL_HEADER_SIZE < nameLength + extraLength + commentLength) {
            why = ZipCannotOpen("Zip archive inconsistent");
            return false;
        }
        ZipEntry entry;
        entry.madeBy = Get16(h + 4);
        entry.flags = Get16(h + 8);
        entry.method = Get16(h + 10);
        entry.crc32 = Get32(h + 16);
        entry.compressedSize = Get32(h + 20);
        entry.size = Get32(h + 24);
        uint32_t disk = Get16(h + 34);
        entry.externalAttributes = Get32(h + 38);
        entry.localHeaderOffset = Get32(h + 42);
        entry.name.assign(reinterpret_cast<const char*>(h + CENTRAL_HEADER_SIZE), nameLength);
        // Sizes and offsets too large for their fields are in the zip64 extra field, in this order.
        const unsigned char* extra = h + CENTRAL_HEADER_SIZE + nameLength;
        for (size_t e = 0; e + 4 <= extraLength;) {
            const uint16_t id = Get16(extra + e), length = Get16(extra + e + 2);
            if (e + 4 + length > extraLength) break;
            if (id == ZIP64_EXTRA_ID) {
                const unsigned char* field = extra + e + 4;
                size_t left = length;
                const auto take = [&](uint64_t& value) {
                    if (left < 8) return false;
                    value = Get64(field);
                    field += 8;
                    left -= 8;
                    return true;
                };
                bool ok = true;
                if (entry.size == 0xffffffff) ok = ok && take(entry.size);
                if (entry.compressedSize == 0xffffffff) ok = ok && take(entry.compressedSize);
                if (entry.localHeaderOffset == 0xffffffff) ok = ok && take(entry.localHeaderOffset);
                if (disk == 0xffff) {
                    ok = ok && left >= 4;
                    if (ok) disk = Get32(field);
                }
                if (!ok) {
                    why = ZipCannotOpen("Zip archive inconsistent");
                    return false;
                }
            }
            e += 4 + length;
        }
        pos += CENTRAL_HEADER_SIZE + nameLength + extraLength + commentLength;
        if (disk != 0) {
            why = ZipCannotOpen("Multi-disk zip archives not supported");
            return false;
        }
        if (!names.insert(entry.name).second) {
            why = FormatStringText(TEXT_ZIP_DUPLICATE_NAME, entry.name.c_str());
            return false;
        }
        if (entry.flags & FLAG_ENCRYPTED) {
            why = "the entry " + entry.name + " is encrypted";
            return false;
        }
        if (entry.method != METHOD_STORED && entry.method != METHOD_DEFLATED) {
            why = "the entry " + entry.name + " uses a compression method the tool cannot read (" +
                  std::to_string(entry.method) + ")";
            return false;
        }
        // The local header must agree with the directory, and the data must lie before it.
        unsigned char local[LOCAL_HEADER_SIZE];
        if (!ReadAt(entry.localHeaderOffset, local, sizeof local) || Get32(local) != LOCAL_HEADER_SIGNATURE ||
            Get16(local + 8) != entry.method || Get16(local + 26) != nameLength) {
            why = ZipCannotOpen("Zip archive inconsistent");
            return false;
        }
        const uint64_t dataStart = entry.localHeaderOffset + LOCAL_HEADER_SIZE + nameLength + Get16(local + 28);
        std::string localName(nameLength, '\0');
        if (!ReadAt(entry.localHeaderOffset + LOCAL_HEADER_SIZE, localName.data(), nameLength) ||
            localName != entry.name || dataStart > directoryStart_ ||
            entry.compressedSize > directoryStart_ - dataStart ||
            (entry.method == METHOD_STORED && entry.compressedSize != entry.size)) {
            why = ZipCannotOpen("Zip archive inconsistent");
            return false;
        }
        entries_.push_back(std::move(entry));
    }
    return true;
}

std::string ZipReader::Extract(size_t index, const std::function<bool(const char*, size_t)>& write) {
    if (!file_ || index >= entries_.size()) return "the archive has no such entry";
    const ZipEntry& entry = entries_[index];
    const auto damaged = [&](const char* what) { return "the entry " + entry.name + " is damaged: " + what; };
    unsigned char local[LOCAL_HEADER_SIZE];
    if (!ReadAt(entry.localHeaderOffset, local, sizeof local)) return damaged("Read error");
    uint64_t offset = entry.localHeaderOffset + LOCAL_HEADER_SIZE + Get16(local + 26) + Get16(local + 28);
    uint64_t left = entry.compressedSize;

    std::vector<unsigned char> in(ZIP_PIECE_BYTES), out(ZIP_PIECE_BYTES);
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t produced = 0;
    // Hands a piece on; false when the caller stopped.
    const auto deliver = [&](const unsigned char* data, size_t size) {
        crc = crc32(crc, data, static_cast<uInt>(size));
        produced += size;
        return write(reinterpret_cast<const char*>(data), size);
    };

    if (entry.method == METHOD_STORED) {
        while (left > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
            if (!ReadAt(offset, in.data(), n)) return damaged("Read error");
            offset += n;
            left -= n;
            if (!deliver(in.data(), n)) return {};
        }
    } else {
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return damaged("Zlib error");
        const std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, inflateEnd);
        int rc = Z_OK;
        while (rc != Z_STREAM_END) {
            if (z.avail_in == 0) {
                if (left == 0) return damaged("the compressed data ends early");
                const size_t n = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
                if (!ReadAt(offset, in.data(), n)) return damaged("Read error");
                offset += n;
                left -= n;
                z.next_in = in.data();
                z.avail_in = static_cast<uInt>(n);
            }
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            rc = inflate(&z, Z_NO_FLUSH);
            const size_t n = out.size() - z.avail_out;
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                return damaged((std::string("Zlib error: ") + zError(rc)).c_str());
            }
            if (rc == Z_BUF_ERROR && n == 0 && z.avail_in > 0) return damaged("Compressed data invalid");
            if (n > 0 && !deliver(out.data(), n)) return {};
            // Bounded by the declared size, whatever the data says.
            if (produced > entry.size) return "the entry " + entry.name + " is longer than it says";
        }
    }
    if (produced > entry.size) return "the entry " + entry.name + " is longer than it says";
    if (produced < entry.size) return "the entry " + entry.name + " is shorter than it says";
    if (static_cast<uint32_t>(crc) != entry.crc32) return damaged("CRC error");
    return {};
}

UnzipResult UnzipWithZipReader(const std::string& archivePath, const std::string& destination, bool overwrite) {
    ZipReader zip;
    std::string why;
    if (!zip.Open(archivePath, UNZIP_MAX_ENTRIES, why)) return UnzipFailure(why);
    std::vector<UnpackEntry> entries;
    for (const ZipEntry& entry : zip.Entries()) {
        UnpackEntry unpack;
        unpack.name = entry.name;
        unpack.size = entry.size;
        unpack.link = entry.IsSymbolicLink();
        entries.push_back(std::move(unpack));
    }
    return UnpackEntries(entries, destination, overwrite,
                         [&](size_t index, const std::function<bool(const char*, size_t)>& write) {
                             return zip.Extract(index, write);
                         });
}

// ---- writing -----------------------------------------------------------------

namespace {

struct StdioFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using StdioFile = std::unique_ptr<std::FILE, StdioFileCloser>;

// The file's modification time as MS-DOS time and date (local time, from 1980).
void ZipDosTime(const std::string& file, uint16_t& time, uint16_t& date) {
    struct stat info{};
    std::time_t seconds = std::time(nullptr);
    if (::stat(file.c_str(), &info) == 0) seconds = info.st_mtime;
    std::tm tm{};
    if (!localtime_r(&seconds, &tm) || tm.tm_year < 80) {
        time = 0;
        date = (1 << 5) | 1;  // 1980-01-01
        return;
    }
    time = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    date = static_cast<uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

bool ReadSourceFile(const std::string& file, std::string& bytes) {
    StdioFile in(std::fopen(file.c_str(), "rb"));
    if (!in) return false;
    bytes.clear();
    char buffer[ZIP_PIECE_BYTES];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) bytes.append(buffer, n);
    return !std::ferror(in.get());
}

// Raw deflate at level 9; false when zlib fails.
bool DeflateRaw(const std::string& data, std::string& packed) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    packed.resize(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    const int rc = deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

}  // namespace

bool WriteZipFile(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries,
                  std::string* error) {
    StdioFile out;
    const auto fail = [&](const std::string& reason) {
        if (error) *error = reason;
        out.reset();
        std::error_code ignored;
        fs::remove(path, ignored);
        return false;
    };
    // A later file of the same name replaces the earlier one, in the earlier one's place.
    std::vector<std::pair<std::string, std::string>> unique;
    std::map<std::string, size_t> at;
    for (const auto& entry : entries) {
        const auto [it, added] = at.emplace(entry.first, unique.size());
        if (added) {
            unique.push_back(entry);
        } else {
            unique[it->second].second = entry.second;
        }
    }
    if (unique.size() > 0xffff) return fail("cannot write " + path + ": too many entries for a zip");

    out.reset(std::fopen(path.c_str(), "wb"));
    if (!out) return fail("cannot create " + path);
    std::string directory;
    uint64_t offset = 0;
    const auto emit = [&](const std::string& bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size()) return false;
        offset += bytes.size();
        return true;
    };
    for (const auto& [name, file] : unique) {
        std::error_code ec;
        std::string data;
        if (!fs::is_regular_file(file, ec) || !ReadSourceFile(file, data)) return fail("not a readable file: " + file);
        if (data.size() >= 0xffffffffu || name.size() > 0xffff) return fail("cannot add " + name + ": too large for a zip");
        std::string packed;
        if (!DeflateRaw(data, packed)) return fail("cannot add " + name + ": deflate failed");
        const bool stored = packed.size() >= data.size();
        const uint16_t method = stored ? METHOD_STORED : METHOD_DEFLATED;
        const uint32_t crc =
            static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()),
                                        static_cast<uInt>(data.size())));
        const std::string& body = stored ? data : packed;
        uint16_t time = 0, date = 0;
        ZipDosTime(file, time, date);
        if (offset >= 0xffffffffu - LOCAL_HEADER_SIZE - name.size() - body.size()) {
            return fail("cannot write " + path + ": too large for a zip");
        }
        const uint32_t localOffset = static_cast<uint32_t>(offset);

        std::string local;
        Put32(local, LOCAL_HEADER_SIGNATURE);
        Put16(local, 20);  // version needed: deflate
        Put16(local, FLAG_UTF8);
        Put16(local, method);
        Put16(local, time);
        Put16(local, date);
        Put32(local, crc);
        Put32(local, static_cast<uint32_t>(body.size()));
        Put32(local, static_cast<uint32_t>(data.size()));
        Put16(local, static_cast<uint16_t>(name.size()));
        Put16(local, 0);
        local += name;
        if (!emit(local) || !emit(body)) return fail("cannot write " + path + ": " + std::strerror(errno));

        Put32(directory, CENTRAL_HEADER_SIGNATURE);
        Put16(directory, 20);  // made by: MS-DOS attributes, version 2.0
        Put16(directory, 20);
        Put16(directory, FLAG_UTF8);
        Put16(directory, method);
        Put16(directory, time);
        Put16(directory, date);
        Put32(directory, crc);
        Put32(directory, static_cast<uint32_t>(body.size()));
        Put32(directory, static_cast<uint32_t>(data.size()));
        Put16(directory, static_cast<uint16_t>(name.size()));
        Put16(directory, 0);  // extra
        Put16(directory, 0);  // comment
        Put16(directory, 0);  // disk
        Put16(directory, 0);  // internal attributes
        Put32(directory, 0);  // external attributes: a plain file
        Put32(directory, localOffset);
        directory += name;
    }
    if (offset + directory.size() >= 0xffffffffu) return fail("cannot write " + path + ": too large for a zip");
    std::string end;
    Put32(end, END_SIGNATURE);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, static_cast<uint16_t>(unique.size()));
    Put16(end, static_cast<uint16_t>(unique.size()));
    Put32(end, static_cast<uint32_t>(directory.size()));
    Put32(end, static_cast<uint32_t>(offset));
    Put16(end, 0);
    if (!emit(directory) || !emit(end) || std::fflush(out.get()) != 0) {
        return fail("cannot write " + path + ": " + std::strerror(errno));
    }
    if (std::fclose(out.release()) != 0) return fail("cannot write " + path + ": " + std::strerror(errno));
    return true;
}
