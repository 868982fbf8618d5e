#pragma once
// Runs the built palo520g as a child process and collects what it prints.

#include <sys/types.h>

#include <string>
#include <vector>

struct CliResult {
    int exitCode = -1;      // -1 when it did not exit by itself
    bool timedOut = false;  // killed after the time-out
    std::string out;
    std::string err;
};

// The program under test, beside the test programs in the build folder.
[[nodiscard]] std::string CliPath();

class CliProcess {
public:
    // Starts palo520g with the arguments and standard error on a pipe or, with
    // stderrOnTerminal, on a pseudo-terminal. The locale variables of the test's
    // environment (LANG, LANGUAGE, LC_*) are left out; `locale` ("NAME=value")
    // takes their place (by default LANG=C).
    explicit CliProcess(const std::vector<std::string>& args, bool stderrOnTerminal = false,
                        const std::vector<std::string>& locale = {"LANG=C"});
    ~CliProcess();  // kills a child that still runs
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Collects output until standard output holds this many lines; false on time-out or exit.
    bool WaitForStdoutLines(int lines, int timeoutMs);
    // Collects output until standard error holds the text; false on time-out or exit.
    bool WaitForStderr(const std::string& text, int timeoutMs);
    void Signal(int signalNumber);
    // Closes the reading end of standard output, as a pipe reader that quits does.
    void CloseStdout();
    // Collects the rest of the output and the exit code; kills the child on time-out.
    CliResult Wait(int timeoutMs);
    [[nodiscard]] const std::string& Out() const { return out_; }
    [[nodiscard]] const std::string& Err() const { return err_; }

private:
    void Pump(int timeoutMs);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    std::string err_;
};

// Runs to the end (30 s at most).
CliResult RunCli(const std::vector<std::string>& args, int timeoutMs = 30000);
// The same with these locale variables ("LC_ALL=C", ...) instead of LANG=C.
CliResult RunCliWithLocale(const std::vector<std::string>& args, const std::vector<std::string>& locale,
                           int timeoutMs = 30000);

// Lines of a text, without empty ones.
std::vector<std::string> NonEmptyLines(const std::string& text);
