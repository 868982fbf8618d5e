#pragma once
// A wire trace: every byte the device library sends and receives, with the time
// and the direction, one exchange per line, in a text file a person reads and a
// script splits (docs/protocol.md, "Reading a wire trace"):
//
//   TIME PORT WORD NAME > SENT < RECEIVED = RESULT
//   09:16:02.123456 /dev/pts/3 00FF enter-command-mode > FD FC ... 01 < FD FC ... 01 = ok 2 ms
//
// TIME is the local wall-clock time the exchange started; PORT is the path that was
// opened (a space or a control byte as %XX); WORD is the command word in hex, or
// "----" for bytes of the report stream read outside an exchange; SENT and RECEIVED
// are every byte in hex, "-" when none. A command's RECEIVED holds everything that
// arrived while its reply was awaited (report frames and noise included).
//
// Threads: one trace may be written by every open port of the process at once;
// each line is written whole under the trace's lock and flushed, so a trace ends
// with the last exchange even when the program does not.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// How an exchange ended, as the trace names it.
enum class TraceOutcome {
    Ok,           // the reply came (its status is the sensor's, in RECEIVED)
    NoReplyWanted,// sent without waiting for a reply
    Timeout,
    WriteFailed,
    LineLost,
    NotOpen,
};

class WireTrace {
public:
    // Creates or truncates the file; null with the reason in `why` when it cannot.
    static std::shared_ptr<WireTrace> Create(const std::string& path, std::string* why = nullptr);
    ~WireTrace();
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    [[nodiscard]] const std::string& Path() const { return path_; }
    // The errno of the first line that could not be written (a full disk), 0 while
    // every line was: a trace with a gap must not pass for a whole one.
    [[nodiscard]] int WriteError();

    // One command and what came back while its reply was awaited.
    void Exchange(const std::string& port, uint16_t command, std::chrono::system_clock::time_point started,
                  const std::vector<uint8_t>& sent, const std::vector<uint8_t>& received, TraceOutcome outcome,
                  int waitedMs);
    // Bytes of the report stream read outside an exchange.
    void Stream(const std::string& port, std::chrono::system_clock::time_point when, const uint8_t* data,
                size_t length);
    // A port opened or closed, or lost: a line without bytes, so that a trace shows
    // where one connection ends and the next begins.
    void Event(const std::string& port, const std::string& what);

private:
    WireTrace(std::FILE* file, std::string path);
    void WriteLine(const std::string& line);

    std::string path_;
    std::mutex mutex_;       //!< Protects file_ and writeError_: every port of the process writes through it.
    std::FILE* file_ = nullptr;
    int writeError_ = 0;
};

// The name of a command word in a trace ("enter-command-mode", "read-detection");
// "command" for a word the tool does not send.
[[nodiscard]] const char* CommandWordName(uint16_t command);

// The trace every port of this process writes to from its next exchange on; null
// stops tracing.
void SetWireTrace(std::shared_ptr<WireTrace> trace);
[[nodiscard]] std::shared_ptr<WireTrace> CurrentWireTrace();
