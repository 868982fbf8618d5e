#pragma once
// Terminal output of the command-line tool: texts from the string table, JSON
// values, aligned tables and a progress bar that only a terminal gets.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// Exit codes of every command.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;      // the sensor or the operation failed
constexpr int EXIT_USAGE = 2;       // the command line is wrong
constexpr int EXIT_PORT_ERROR = 3;  // the port could not be opened
constexpr int EXIT_IN_BOOTLOADER = 4;  // the sensor runs its bootloader only (a download did not complete)

// The text of a string id formatted like printf, with the Windows line ends of the
// table ("\r\n") reduced to what a terminal wants and any trailing line end removed.
[[nodiscard]] std::string Text(int id, ...);
// Cleans a text that came from the string table elsewhere (a sink, a rule).
[[nodiscard]] std::string CleanText(const std::string& text);

// Writes one line to standard output / standard error. Both are serialised, so
// lines of a worker thread and of the main thread never interleave. PrintLine is
// false when standard output is gone (a closed pipe: SIGPIPE is ignored).
bool PrintLine(const std::string& line);
void PrintError(const std::string& line);

// One port's share of a run on many ports. While the calling thread holds the
// scope, its PrintLine and PrintError lines start with the prefix; with
// keepOutput, its standard output lines are appended there instead of printed
// and its error lines are also appended to keepErrors. The vectors are borrowed
// and belong to the thread. No progress bar is drawn inside a scope.
class PortOutputScope {
public:
    PortOutputScope(const std::string& prefix, std::vector<std::string>* keepOutput,
                    std::vector<std::string>* keepErrors);
    ~PortOutputScope();
    PortOutputScope(const PortOutputScope&) = delete;
    PortOutputScope& operator=(const PortOutputScope&) = delete;
};

// Lines of a stream of reports. In block mode a line waits until 64 KiB have
// gathered (one write instead of thousands); in batch mode until Flush (the end of
// what one read delivered); otherwise, and always when standard output is a
// terminal, each line goes out as it is ended. Serialised with PrintLine and PrintError.
class LineWriter {
public:
    enum Mode { EACH_LINE, BATCH, BLOCKS };
    explicit LineWriter(Mode mode);
    ~LineWriter();  // writes what is left
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // The line being built (append to it, then EndLine).
    [[nodiscard]] std::string& Line() { return buffer_; }
    // Ends the line; false when standard output is gone.
    bool EndLine();
    bool Flush();

private:
    std::string buffer_;
    Mode mode_;
};

// A text from outside (the sensor, the system) made safe for a terminal: control
// characters, C1 controls and bytes that are not UTF-8 become visible escapes
// ("\x1b"), a backslash becomes "\\"; printable text, Chinese included, is kept.
[[nodiscard]] std::string VisibleText(const std::string& text);

// --- JSON ---
// Every JSON text of the tool is built as a nlohmann tree, members in the order they
// were added. The one exception is the line per report of monitor and replay
// (ReportFormat.cpp), written by hand because it is the hot path: measured with
// bench_replay_cli, building and dumping a tree per report ran at about 0.24 million
// reports a second against 1.4 million for the hand-written line.
using Json = nlohmann::ordered_json;

// The version of the JSON objects the tool prints (docs/json.md). Every object printed
// as a line carries it first, as "format"; it grows when a field changes meaning or
// goes away, not when one is added.
constexpr int JSON_FORMAT = 1;

// The compact text of a value as nlohmann writes it; a top-level object without a
// "format" member gets "format": JSON_FORMAT first; text that is not UTF-8 has
// U+FFFD in place of the bad bytes, control characters are escaped ("\n", "\u001b").
[[nodiscard]] std::string JsonText(const Json& value);
// The same, but every double written as the shortest text that reads back as the
// same value, as std::to_chars writes it ("2", "0.7", "1e-05"), where nlohmann
// writes "2.0" and "0.00001". The parameter commands have always written their
// values so, and scripts may compare the text.
[[nodiscard]] std::string JsonTextShortest(const Json& value);

// --- tables ---
// Rows of cells printed with columns padded to their widest cell (in characters).
[[nodiscard]] std::vector<std::string> FormatTable(const std::vector<std::vector<std::string>>& rows);

// --- progress ---
// A one-line bar on standard error, redrawn in place; nothing at all when standard
// error is not a terminal. Safe to update from a worker thread.
class ProgressBar {
public:
    ProgressBar();
    ~ProgressBar();  // ends the line when a bar was drawn
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void SetMaximum(uint64_t maximum);
    void SetValue(uint64_t value);
    // Ends the bar's line so that later lines start clean.
    void Finish();
    [[nodiscard]] bool Visible() const { return enabled_; }

private:
    void Draw();

    const bool enabled_;
    std::mutex mutex_;  //!< Protects maximum_, value_, drawn_ and lastPercent_.
    uint64_t maximum_ = 100;
    uint64_t value_ = 0;
    bool drawn_ = false;
    int lastPercent_ = -1;
};

// True when standard error is a terminal.
[[nodiscard]] bool StderrIsTerminal();
