#pragma once
// The update client: reads the firmware catalogue at the update address and
// fetches a version's archive, verified, over http, https or file URLs (libcurl).
//
// The address is the client's own setting (UpdateAddressFromSettings): the tool's
// calls never carry it. Each call blocks until the server answered, the transfer
// stalled for the stall time-out, or the listener cancelled it. One client serves
// one thread at a time; the listener is called on that thread.
//
// The operations the firmware page relies on:
//   Logon               fetches and parses the catalogue
//   GetHistoryVersion   the version names joined with ";"
//   CompareVersion      the version order of FirmwareCatalogue.h
//   GetVersionInfo      the archive's URL and "<sha256>:<size>"
//   DownloadFile        the verified archive at a local path

#include <cstdint>
#include <filesystem>
#include <string>

#include "upgrade/FirmwareCatalogue.h"

class CSha256;
class XMLNode;

// Progress of a transfer: bytes done, total bytes (the catalogue's size when the
// server sends none) and the average transfer rate in bytes per second. The
// context argument is unused. Returning 0 cancels the transfer.
class INetFileCopyProgressListener {
public:
    virtual ~INetFileCopyProgressListener() = default;
    virtual int OnProgress(void* context, uint64_t done, uint64_t total, double bytesPerSecond) = 0;
};

// --- the update address ---
constexpr const char* UPDATE_URL_ENVIRONMENT = "PALO520G_UPDATE_URL";
// The address a command line gave (--update-url); it overrides every other setting.
void SetUpdateUrlOverride(const std::string& url);
// The address from, in order: the override, the environment variable, the Url
// attribute of the Upgrade element under appConfig (an AppConfig element; may be
// empty). Empty when none is set.
[[nodiscard]] std::string UpdateAddressFromSettings(XMLNode appConfig);

// What GetVersionInfo gives: the archive's URL (the source of DownloadFile) and
// what the archive must be ("<sha256>:<size>", DownloadFile's expectation).
struct VersionInfo {
    std::string version;
    std::string source;
    std::string expected;
    std::string notes;
};

class CUpgradeClient {
public:
    // Time a transfer may go without receiving a byte before it fails.
    static constexpr int DEFAULT_STALL_TIMEOUT_S = 20;
    static constexpr int CONNECT_TIMEOUT_S = 15;

    // A client of the address (a URL; a missing final '/' is added).
    explicit CUpgradeClient(std::string address);

    [[nodiscard]] const std::string& Address() const { return address_; }
    void SetStallTimeout(int seconds) { stallTimeoutS_ = seconds; }

    // Fetches and parses the catalogue. False with LastError set when no address is
    // set, the server cannot be reached or the catalogue is not valid.
    bool Logon();
    [[nodiscard]] bool LoggedOn() const { return loggedOn_; }
    [[nodiscard]] const FirmwareCatalogue& Catalogue() const { return catalogue_; }

    // The version names of the catalogue joined with ";", in catalogue order. False
    // before a successful Logon.
    bool GetHistoryVersion(std::string& versions);
    [[nodiscard]] static int CompareVersion(const std::string& a, const std::string& b) {
        return ::CompareVersion(a, b);
    }
    // False (LastError set) before Logon or for a version the catalogue lacks.
    bool GetVersionInfo(const std::string& version, VersionInfo& info);

    // Fetches source into a temporary file beside localPath (".<name>.part", one
    // fixed name, so a process killed half-way leaves at most one, which the next
    // download replaces; callers serialise downloads to one path) and renames it to
    // localPath only when its size and SHA-256 match expected ("<sha256>:<size>").
    // A size above ARCHIVE_MAX_BYTES is refused before anything is sent, and the
    // transfer stops as soon as the server sends more than the size. Any failure
    // removes the temporary and any older file at localPath. False with LastError
    // set on failure: a cancelled transfer says so, a failed write gives the
    // system's reason.
    bool DownloadFile(const std::string& source, const std::string& localPath, const std::string& expected,
                      INetFileCopyProgressListener* listener);

    // Why the last call failed, for the user.
    [[nodiscard]] const std::string& LastError() const { return lastError_; }

    // Fetches a small text (the catalogue) whole; at most maxBytes.
    bool FetchText(const std::string& url, size_t maxBytes, std::string& text);

private:
    bool Fail(const std::string& reason);
    // The start of every download: the old archive at localPath goes, and the
    // expectation must name a SHA-256 and a size within ARCHIVE_MAX_BYTES.
    bool BeginDownload(const std::string& localPath, const std::string& expected, std::string& sha256,
                       uint64_t& size);
    // The end of every download. A transfer that went through (failure empty) must
    // have brought size bytes of the expected digest; then the temporary file takes
    // the archive's name. Otherwise the temporary file goes and the reason is kept.
    bool EndDownload(std::string failure, const std::filesystem::path& temp, const std::string& localPath,
                     uint64_t written, uint64_t size, CSha256& sha, const std::string& sha256);

    std::string address_;
    int stallTimeoutS_ = DEFAULT_STALL_TIMEOUT_S;
    bool loggedOn_ = false;
    FirmwareCatalogue catalogue_;
    std::string lastError_;
};

// "<sha256>:<size>" and back.
[[nodiscard]] std::string FormatExpectation(const std::string& sha256, uint64_t size);
bool ParseExpectation(const std::string& text, std::string& sha256, uint64_t& size);
