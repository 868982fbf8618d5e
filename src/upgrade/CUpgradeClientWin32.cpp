// The update client's transfers in Windows builds, over WinHTTP (http, https) and
// the file system (file://). The catalogue and its versions are shared with Linux
// (CUpgradeClientCommon.cpp); this file keeps the Linux client's rules: redirects
// within http(s), at most five, a connect time-out and a stall time-out rather than
// a total one, the same size limits, and the same texts for the same failures.
//
// WinHTTP is used synchronously on a thread of each transfer's own; the listener
// is called on the caller's thread once the server answered, after every piece
// of the body and about four times a second while nothing arrives, so that a
// cancel takes effect at once, as with libcurl.

#include "upgrade/CUpgradeClient.h"

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/StringTable.h"
#include "common/Version.h"
#include "common/WideText.h"
#include "upgrade/CUnzipper.h"
#include "upgrade/Sha256.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD MAX_REDIRECTS = 5;
constexpr size_t TRANSFER_PIECE_BYTES = 64 * 1024;
// Pieces read ahead of the caller at most.
constexpr size_t QUEUED_PIECES = 16;
// How often the listener hears from a transfer that receives nothing.
constexpr std::chrono::milliseconds TICK{250};
// How long a stopped transfer waits for the thread that waits on WinHTTP to end.
constexpr std::chrono::milliseconds STOP_GRACE{200};

struct HandleCloser {
    void operator()(void* handle) const {
        if (handle) WinHttpCloseHandle(handle);
    }
};
using InternetHandle = std::unique_ptr<void, HandleCloser>;

// What a transfer hands its sink: each piece of the body. The sink returns false
// to stop the transfer (too long, a failed write, cancelled); it then knows why.
struct BodySink {
    // Called once the server answered, with the body's length when it sent one (0 when not).
    std::function<bool(uint64_t length)> started;
    std::function<bool(const char* data, size_t size)> piece;
    // Called while nothing arrives, about every TICK.
    std::function<bool()> tick = [] { return true; };
};

enum class Outcome { Done, StoppedBySink, Failed };

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

// WinHTTP's own words for error with its number: from winhttp.dll's message table
// where it has one (Windows), else a short description (Wine has none).
std::string WinHttpErrorText(DWORD error) {
    std::string text;
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        GetModuleHandleW(L"winhttp.dll"), error, 0,
                                        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length > 0 && buffer) text = Utf8FromWide(buffer, length);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) {
        switch (error) {
        case ERROR_WINHTTP_SECURE_FAILURE: text = "the server's certificate or the secure channel was refused"; break;
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: text = "the secure channel could not be set up"; break;
        case ERROR_WINHTTP_SECURE_INVALID_CA: text = "the certificate's authority is not trusted"; break;
        case ERROR_WINHTTP_SECURE_INVALID_CERT: text = "the certificate is not valid"; break;
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID: text = "the certificate is for another name"; break;
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID: text = "the certificate has expired or is not valid yet"; break;
        case ERROR_WINHTTP_SECURE_CERT_REVOKED: text = "the certificate was revoked"; break;
        case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE: text = "the certificate is not for a server"; break;
        case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED: text = "the server asks for a client certificate"; break;
        case ERROR_WINHTTP_CONNECTION_ERROR: text = "the connection to the server was lost"; break;
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: text = "the server's answer could not be understood"; break;
        default: return Win32ErrorText(error);
        }
    }
    return text + " (" + std::to_string(error) + ")";
}

// The WinHTTP reason for error, in the user-interface language for the failures a
// user meets, as the Linux client words them; WinHTTP's own words for the rest.
std::string NetworkFailure(const std::string& url, DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return FormatStringText(TEXT_NET_HOST_UNKNOWN, url.c_str());
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED: return FormatStringText(TEXT_NET_UNREACHABLE, url.c_str());
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:  // what Wine's WinHTTP gives for a silent server
        return FormatStringText(TEXT_NET_TIMED_OUT, url.c_str());
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return FormatStringText(TEXT_NET_BAD_ADDRESS, url.c_str());
    case ERROR_WINHTTP_REDIRECT_FAILED:
        return FormatStringText(TEXT_NET_OTHER, url.c_str(), LoadStringText(TEXT_NET_REDIRECT_FAILED).c_str());
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
        return FormatStringText(TEXT_NET_SECURE_FAILED, url.c_str(), WinHttpErrorText(error).c_str());
    default: return FormatStringText(TEXT_NET_OTHER, url.c_str(), WinHttpErrorText(error).c_str());
    }
}

// "file:///C:/fw/catalogue.json" or "file://localhost/C:/..." -> "C:/fw/catalogue.json",
// with %XX decoded. False for another host or a bad escape.
bool LocalPathOfFileUrl(const std::string& url, std::string& path) {
    std::string rest = url.substr(7);
    if (StartsWithNoCase(rest, "localhost/")) rest = rest.substr(9);
    if (rest.empty() || rest[0] != '/') return false;
    path.clear();
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        if (i + 2 >= rest.size() || !std::isxdigit(static_cast<unsigned char>(rest[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(rest[i + 2]))) {
            return false;
        }
        path += static_cast<char>(std::stoi(rest.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    // "/C:/..." names a drive; "/folder/..." stays as it is (the current drive).
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[1])) && path[2] == ':') path.erase(0, 1);
    return true;
}

Outcome ReadLocalFile(const std::string& url, const BodySink& sink, std::string& failure) {
    std::string path;
    if (!LocalPathOfFileUrl(url, path)) {
        failure = FormatStringText(TEXT_NET_BAD_ADDRESS, url.c_str());
        return Outcome::Failed;
    }
    const std::wstring wide = WideFromUtf8(path);
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failure = FormatStringText(TEXT_NET_FILE_MISSING, url.c_str());
        return Outcome::Failed;
    }
    LARGE_INTEGER length{};
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !GetFileSizeEx(file, &length)) {
        CloseHandle(file);
        failure = FormatStringText(TEXT_NET_FILE_MISSING, url.c_str());
        return Outcome::Failed;
    }
    Outcome outcome = Outcome::Done;
    if (!sink.started(static_cast<uint64_t>(length.QuadPart))) {
        outcome = Outcome::StoppedBySink;
    } else {
        std::vector<char> buffer(TRANSFER_PIECE_BYTES);
        while (true) {
            DWORD got = 0;
            if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
                failure = FormatStringText(TEXT_NET_OTHER, url.c_str(), Win32ErrorText(GetLastError()).c_str());
                outcome = Outcome::Failed;
                break;
            }
            if (got == 0) break;
            if (!sink.piece(buffer.data(), got)) {
                outcome = Outcome::StoppedBySink;
                break;
            }
        }
    }
    CloseHandle(file);
    return outcome;
}

// What the thread that waits on WinHTTP hands the caller's thread, in order: the
// answer's status and length, the pieces of the body, the end.
struct TransferEvents {
    std::mutex mutex;  //!< Protects every member below.
    std::condition_variable changed;
    bool answered = false;
    DWORD status = 0;
    uint64_t length = 0;  // 0 when the server sent none
    std::deque<std::string> pieces;
    bool ended = false;
    DWORD error = 0;      // why it ended; 0 at the end of the body
    bool stop = false;    // the caller wants nothing more
};

// A transfer's state, shared with the thread that waits on WinHTTP, which may
// outlive the call that started it (see Transfer).
struct TransferState {
    TransferEvents events;
    InternetHandle session;
    InternetHandle connection;
};

// Sends the request and reads the answer into events, keeping at most
// QUEUED_PIECES pieces ahead of the caller, until the body ends, a call fails or
// the caller stops (closing the request ends a call in progress).
void WaitForTheServer(HINTERNET request, TransferEvents& events) {
    DWORD error = 0;
    DWORD status = 0;
    const auto finish = [&](DWORD why) {
        std::lock_guard<std::mutex> guard(events.mutex);
        events.ended = true;
        events.error = events.stop ? 0 : why;
        events.changed.notify_all();
    };
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request, nullptr)) {
        return finish(GetLastError());
    }
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
        return finish(GetLastError());
    }
    uint64_t length = 0;
    wchar_t lengthText[32] = {};
    DWORD lengthSize = sizeof lengthText;
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, lengthText,
                            &lengthSize, WINHTTP_NO_HEADER_INDEX)) {
        length = _wcstoui64(lengthText, nullptr, 10);
    }
    {
        std::lock_guard<std::mutex> guard(events.mutex);
        events.answered = true;
        events.status = status;
        events.length = length;
        events.changed.notify_all();
    }
    if (status < 200 || status >= 300) return finish(0);
    std::vector<char> buffer(TRANSFER_PIECE_BYTES);
    while (true) {
        {
            std::unique_lock<std::mutex> lock(events.mutex);
            events.changed.wait(lock, [&] { return events.stop || events.pieces.size() < QUEUED_PIECES; });
            if (events.stop) break;
        }
        // Waits for some of the body (a read alone may wait to fill the buffer), then takes it.
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            error = GetLastError();
            break;
        }
        if (available == 0) break;
        DWORD got = 0;
        const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
        if (!WinHttpReadData(request, buffer.data(), wanted, &got)) {
            error = GetLastError();
            break;
        }
        if (got == 0) break;
        std::lock_guard<std::mutex> guard(events.mutex);
        events.pieces.emplace_back(buffer.data(), got);
        events.changed.notify_all();
    }
    finish(error);
}

// Fetches url (http, https or file) and hands its body to the sink. On Failed,
// failure says why; on StoppedBySink the sink knows.
Outcome Transfer(const std::string& url, int stallTimeoutS, const BodySink& sink, std::string& failure) {
    if (StartsWithNoCase(url, "file://")) return ReadLocalFile(url, sink, failure);
    if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) {
        failure = FormatStringText(TEXT_NET_BAD_ADDRESS, url.c_str());
        return Outcome::Failed;
    }
    const auto fail = [&](DWORD error) {
        failure = NetworkFailure(url, error);
        return Outcome::Failed;
    };

    const std::wstring wideUrl = WideFromUtf8(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts) || parts.dwHostNameLength == 0) {
        return fail(ERROR_WINHTTP_INVALID_URL);
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = L"/";
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    const std::wstring agent = WideFromUtf8(std::string("palo520g/") + PaloVersionText());
    // The system's proxy settings where this Windows knows them (8.1 and later), else WinHTTP's own.
    InternetHandle session(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        session.reset(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0));
    }
    if (!session) {
        failure = LoadStringText(TEXT_NET_INIT_FAILED);
        return Outcome::Failed;
    }
    // Name look-up and connecting have the connect time-out; sending and each wait
    // for more of the answer have the stall time-out.
    const int connectMs = CUpgradeClient::CONNECT_TIMEOUT_S * 1000;
    const int stallMs = stallTimeoutS * 1000;
    WinHttpSetTimeouts(session.get(), connectMs, connectMs, stallMs, stallMs);
    DWORD redirects = MAX_REDIRECTS;
    WinHttpSetOption(session.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);

    InternetHandle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return fail(GetLastError());
    InternetHandle request(WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return fail(GetLastError());
    // The request runs on a thread of its own, so that this thread can call the
    // listener while the server is silent and stop the transfer at once. That
    // thread owns the session and the connection until it ends (see below).
    auto state = std::make_shared<TransferState>();
    state->session = std::move(session);
    state->connection = std::move(connection);
    TransferEvents& events = state->events;
    std::thread waiter([state, handle = request.get()] { WaitForTheServer(handle, state->events); });
    std::unique_lock<std::mutex> lock(events.mutex);
    bool answerTaken = false;
    uint64_t length = 0;
    uint64_t received = 0;
    Outcome outcome = Outcome::Done;
    bool stopping = false;
    while (!stopping) {
        const bool woken = events.changed.wait_for(lock, TICK, [&] {
            return (events.answered && !answerTaken) || !events.pieces.empty() || events.ended;
        });
        if (!woken) {
            lock.unlock();
            const bool goOn = sink.tick();
            lock.lock();
            if (!goOn) {
                outcome = Outcome::StoppedBySink;
                stopping = true;
            }
            continue;
        }
        if (events.answered && !answerTaken) {
            answerTaken = true;
            const DWORD status = events.status;
            length = events.length;
            lock.unlock();
            // Anything but a success, after the redirects WinHTTP followed, is the server's refusal.
            if (status < 200 || status >= 300) {
                failure = FormatStringText(TEXT_NET_HTTP_STATUS, url.c_str(), static_cast<int>(status));
                outcome = Outcome::Failed;
                stopping = true;
            } else if (!sink.started(length)) {
                outcome = Outcome::StoppedBySink;
                stopping = true;
            }
            lock.lock();
            continue;
        }
        if (!events.pieces.empty()) {
            const std::string piece = std::move(events.pieces.front());
            events.pieces.pop_front();
            events.changed.notify_all();  // room for the next piece
            lock.unlock();
            received += piece.size();
            const bool goOn = sink.piece(piece.data(), piece.size());
            lock.lock();
            if (!goOn) {
                outcome = Outcome::StoppedBySink;
                stopping = true;
            }
            continue;
        }
        // Ended, and every piece handed on.
        const DWORD error = events.error;
        // A connection closed or reset before the promised length is a body cut short, as below.
        const bool closed = error == ERROR_WINHTTP_CONNECTION_ERROR || error == WSAECONNRESET;
        if (error != 0 && !(closed && length > 0)) {
            outcome = fail(error);
        } else if (length > 0 && received < length) {
            failure = FormatStringText(TEXT_NET_BODY_CUT, url.c_str(), std::to_string(received).c_str(),
                                       std::to_string(length).c_str());
            outcome = Outcome::Failed;
        }
        break;
    }
    events.stop = true;
    events.changed.notify_all();
    if (!events.ended) {
        // Closing the request is meant to end the call the other thread waits in;
        // Wine's WinHTTP lets the call wait on until the server sends or the stall
        // time-out. The transfer is over either way: that thread is left to end
        // by itself, with what it uses, and this one returns now.
        WinHttpCloseHandle(request.release());
        events.changed.wait_for(lock, STOP_GRACE, [&] { return events.ended; });
    }
    const bool ended = events.ended;
    lock.unlock();
    if (ended) {
        waiter.join();
        request.reset();  // before its connection and session, which state closes
    } else {
        waiter.detach();
    }
    return outcome;
}

}  // namespace

CUpgradeClient::CUpgradeClient(std::string address) : address_(std::move(address)) {
    if (!address_.empty() && address_.back() != '/') address_ += '/';
}

bool CUpgradeClient::FetchText(const std::string& url, size_t maxBytes, std::string& text) {
    text.clear();
    bool tooLong = false;
    BodySink sink;
    sink.started = [&](uint64_t length) {
        tooLong = length > maxBytes;
        return !tooLong;
    };
    sink.piece = [&](const char* data, size_t size) {
        if (text.size() + size > maxBytes) {
            tooLong = true;
            return false;
        }
        text.append(data, size);
        return true;
    };
    std::string failure;
    const Outcome outcome = Transfer(url, stallTimeoutS_, sink, failure);
    if (tooLong) {
        text.clear();
        return Fail(FormatStringText(TEXT_NET_TOO_LARGE, url.c_str(), std::to_string(maxBytes).c_str()));
    }
    if (outcome != Outcome::Done) {
        text.clear();
        return Fail(failure);
    }
    return true;
}

bool CUpgradeClient::DownloadFile(const std::string& source, const std::string& localPath,
                                  const std::string& expected, INetFileCopyProgressListener* listener) {
    std::string sha256;
    uint64_t size = 0;
    if (!BeginDownload(localPath, expected, sha256, size)) return false;

    // Narrow names are UTF-8 in this process (its manifest sets the code page).
    const fs::path local(localPath);
    const fs::path temp = local.parent_path() / ("." + local.filename().string() + ".part");
    const HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Fail(FormatStringText(TEXT_CANNOT_CREATE_FILE_BESIDE, localPath.c_str(),
                                     Win32ErrorText(GetLastError()).c_str()));
    }

    uint64_t written = 0;
    uint64_t total = size;
    bool tooLong = false;
    bool cancelled = false;
    DWORD writeError = 0;
    CSha256 sha;
    const auto started = std::chrono::steady_clock::now();
    const auto report = [&] {
        if (!listener) return true;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double rate = seconds > 0 ? static_cast<double>(written) / seconds : 0.0;
        if (listener->OnProgress(nullptr, written, total, rate) == 0) cancelled = true;
        return !cancelled;
    };
    BodySink sink;
    sink.started = [&](uint64_t length) {
        if (length > 0) total = length;
        if (length > size) {
            tooLong = true;
            return false;
        }
        return report();
    };
    sink.tick = report;
    sink.piece = [&](const char* data, size_t n) {
        if (written + n > size) {
            tooLong = true;
            return false;
        }
        DWORD done = 0;
        if (!WriteFile(file, data, static_cast<DWORD>(n), &done, nullptr) || done != n) {
            writeError = GetLastError();
            if (writeError == 0) writeError = ERROR_WRITE_FAULT;
            return false;
        }
        sha.Update(data, n);
        written += n;
        return report();
    };
    std::string transferFailure;
    const Outcome outcome = Transfer(source, stallTimeoutS_, sink, transferFailure);
    if (!FlushFileBuffers(file) && writeError == 0) writeError = GetLastError();
    if (!CloseHandle(file) && writeError == 0) writeError = GetLastError();

    std::string failure;
    if (cancelled) {
        failure = LoadStringText(TEXT_DOWNLOAD_CANCELLED);
    } else if (tooLong) {
        failure = FormatStringText(TEXT_ARCHIVE_TOO_LONG, std::to_string(size).c_str());
    } else if (writeError != 0) {
        failure = FormatStringText(TEXT_CANNOT_WRITE_FILE_BECAUSE, localPath.c_str(), Win32ErrorText(writeError).c_str());
    } else if (outcome != Outcome::Done) {
        failure = transferFailure;
    }
    return EndDownload(failure, temp, localPath, written, size, sha, sha256);
}
