#include "upgrade/CUpgradeClient.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>

#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "common/Version.h"
#include "upgrade/CUnzipper.h"
#include "upgrade/CurlLibrary.h"
#include "upgrade/Sha256.h"

namespace fs = std::filesystem;

namespace {

// The options every request shares: the schemes allowed, redirects within http(s),
// time-outs by stall rather than by total time (a slow line may take long), and
// certificate checks left at libcurl's default (on).
void CommonOptions(const CurlLibrary& lib, CURL* curl, const std::string& url, int stallTimeoutS, char* errorBuffer) {
    lib.easy_setopt(curl, CURLOPT_URL, url.c_str());
    lib.easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    lib.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib.easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file");
    lib.easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    lib.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    lib.easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    lib.easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    lib.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(CUpgradeClient::CONNECT_TIMEOUT_S));
    lib.easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    lib.easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stallTimeoutS));
    const std::string agent = std::string("palo520g/") + PaloVersionText();
    lib.easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());  // copied by libcurl
}

// Why a transfer of url failed, in the user-interface language for the failures a
// user meets (a wrong address, a server that is down); libcurl's own words for the rest.
std::string CurlFailure(const CurlLibrary& lib, CURL* curl, const std::string& url, CURLcode code,
                        const char* errorBuffer) {
    std::string text = errorBuffer[0] ? errorBuffer : lib.easy_strerror(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return FormatStringText(TEXT_NET_HOST_UNKNOWN, url.c_str());
    case CURLE_COULDNT_CONNECT: return FormatStringText(TEXT_NET_UNREACHABLE, url.c_str());
    case CURLE_OPERATION_TIMEDOUT: return FormatStringText(TEXT_NET_TIMED_OUT, url.c_str());
    case CURLE_HTTP_RETURNED_ERROR: {
        long status = 0;
        lib.easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        return FormatStringText(TEXT_NET_HTTP_STATUS, url.c_str(), static_cast<int>(status));
    }
    case CURLE_FILE_COULDNT_READ_FILE: return FormatStringText(TEXT_NET_FILE_MISSING, url.c_str());
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT: return FormatStringText(TEXT_NET_BAD_ADDRESS, url.c_str());
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE: return FormatStringText(TEXT_NET_SECURE_FAILED, url.c_str(), text.c_str());
    default: return FormatStringText(TEXT_NET_OTHER, url.c_str(), text.c_str());
    }
}

struct TextSink {
    std::string* text;
    size_t maxBytes;
    bool tooLong = false;
};

size_t WriteText(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<TextSink*>(user);
    const size_t n = size * count;
    if (sink->text->size() + n > sink->maxBytes) {
        sink->tooLong = true;
        return 0;
    }
    sink->text->append(data, n);
    return n;
}

struct FileSink {
    int fd = -1;
    uint64_t limit = 0;
    uint64_t written = 0;
    bool tooLong = false;
    int writeError = 0;  // errno of the write that failed
    CSha256 sha;
    INetFileCopyProgressListener* listener = nullptr;
    uint64_t expectedSize = 0;
    bool cancelled = false;
};

size_t WriteFile(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<FileSink*>(user);
    const size_t n = size * count;
    if (sink->written + n > sink->limit) {
        sink->tooLong = true;
        return 0;
    }
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(sink->fd, data + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            sink->writeError = errno;
            return 0;
        }
        done += static_cast<size_t>(w);
    }
    sink->sha.Update(data, n);
    sink->written += n;
    return n;
}

struct ProgressContext {
    const CurlLibrary* lib;
    CURL* curl;
    FileSink* sink;
};

int ReportProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
    auto* context = static_cast<ProgressContext*>(user);
    FileSink* sink = context->sink;
    if (!sink->listener) return 0;
    curl_off_t speed = 0;
    context->lib->easy_getinfo(context->curl, CURLINFO_SPEED_DOWNLOAD_T, &speed);
    const uint64_t total = dltotal > 0 ? static_cast<uint64_t>(dltotal) : sink->expectedSize;
    if (sink->listener->OnProgress(nullptr, static_cast<uint64_t>(dlnow), total, static_cast<double>(speed)) == 0) {
        sink->cancelled = true;
        return 1;  // aborts the transfer
    }
    return 0;
}

// Earlier versions of the tool downloaded to "<name>.part-XXXXXX" (mkstemp's
// random suffix) beside the archive, which a killed process left behind.
void RemoveLegacyTemporaries(const fs::path& local) {
    const std::string prefix = local.filename().string() + ".part-";
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(local.parent_path(), ec)) {
        const std::string name = item.path().filename().string();
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
        if (!std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                         [](unsigned char c) { return std::isalnum(c) != 0; })) {
            continue;
        }
        if (item.is_regular_file(ec) && !item.is_symlink(ec)) fs::remove(item.path(), ec);
    }
}

}  // namespace

CUpgradeClient::CUpgradeClient(std::string address) : address_(std::move(address)) {
    if (!address_.empty() && address_.back() != '/') address_ += '/';
}

bool CUpgradeClient::FetchText(const std::string& url, size_t maxBytes, std::string& text) {
    std::string why;
    const CurlLibrary* library = LoadCurl(&why);
    if (!library) return Fail(why);
    const CurlLibrary& lib = *library;
    CURL* curl = lib.easy_init();
    if (!curl) return Fail(LoadStringText(TEXT_NET_INIT_FAILED));
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CommonOptions(lib, curl, url, stallTimeoutS_, errorBuffer);
    text.clear();
    TextSink sink{&text, maxBytes};
    lib.easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteText);
    lib.easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    const CURLcode code = lib.easy_perform(curl);
    const std::string failure = code != CURLE_OK ? CurlFailure(lib, curl, url, code, errorBuffer) : std::string();
    lib.easy_cleanup(curl);
    if (sink.tooLong) return Fail(FormatStringText(TEXT_NET_TOO_LARGE, url.c_str(), std::to_string(maxBytes).c_str()));
    if (code != CURLE_OK) return Fail(failure);
    return true;
}

bool CUpgradeClient::DownloadFile(const std::string& source, const std::string& localPath,
                                  const std::string& expected, INetFileCopyProgressListener* listener) {
    std::string sha256;
    uint64_t size = 0;
    if (!BeginDownload(localPath, expected, sha256, size)) return false;

    std::string why;
    const CurlLibrary* library = LoadCurl(&why);
    if (!library) return Fail(why);
    const CurlLibrary& lib = *library;

    const fs::path local(localPath);
    RemoveLegacyTemporaries(local);
    const std::string tempPath = (local.parent_path() / ("." + local.filename().string() + ".part")).string();
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return Fail(FormatStringText(TEXT_CANNOT_CREATE_FILE_BESIDE, localPath.c_str(), std::strerror(errno)));

    CURL* curl = lib.easy_init();
    if (!curl) {
        ::close(fd);
        ::unlink(tempPath.c_str());
        return Fail(LoadStringText(TEXT_NET_INIT_FAILED));
    }
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CommonOptions(lib, curl, source, stallTimeoutS_, errorBuffer);
    FileSink sink;
    sink.fd = fd;
    sink.limit = size;
    sink.listener = listener;
    sink.expectedSize = size;
    ProgressContext progress{&lib, curl, &sink};
    lib.easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteFile);
    lib.easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    lib.easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    lib.easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ReportProgress);
    lib.easy_setopt(curl, CURLOPT_XFERINFODATA, &progress);
    const CURLcode code = lib.easy_perform(curl);
    const std::string curlFailure = code != CURLE_OK ? CurlFailure(lib, curl, source, code, errorBuffer) : std::string();
    lib.easy_cleanup(curl);
    int writeError = sink.writeError;
    if (::fsync(fd) != 0 && writeError == 0) writeError = errno;
    if (::close(fd) != 0 && writeError == 0) writeError = errno;

    std::string failure;
    if (sink.cancelled) {
        failure = LoadStringText(TEXT_DOWNLOAD_CANCELLED);
    } else if (sink.tooLong) {
        failure = FormatStringText(TEXT_ARCHIVE_TOO_LONG, std::to_string(size).c_str());
    } else if (writeError != 0) {
        failure = FormatStringText(TEXT_CANNOT_WRITE_FILE_BECAUSE, localPath.c_str(), std::strerror(writeError));
    } else if (code != CURLE_OK) {
        failure = curlFailure;
    }
    return EndDownload(failure, tempPath, localPath, sink.written, size, sink.sha, sha256);
}
