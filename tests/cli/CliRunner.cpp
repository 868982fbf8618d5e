#include "CliRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>

#include "support/SimulatedSensor.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

std::string CliPath() { return std::string(PALO_BINARY_DIR) + "/palo520g"; }

CliProcess::CliProcess(const std::vector<std::string>& args, bool stderrOnTerminal,
                       const std::vector<std::string>& locale) {
    std::vector<std::string> argStorage = {CliPath()};
    argStorage.insert(argStorage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStorage) argv.push_back(arg.data());
    argv.push_back(nullptr);

    // The environment is built before fork: the child may only call async-signal-safe functions.
    std::vector<std::string> envStorage;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "LANG=", 5) != 0 && std::strncmp(*e, "LANGUAGE=", 9) != 0 &&
            std::strncmp(*e, "LC_", 3) != 0 && std::strncmp(*e, "PALO520G_BOOT_RESET_WAIT_MS=", 28) != 0)
            envStorage.emplace_back(*e);
    }
    envStorage.insert(envStorage.end(), locale.begin(), locale.end());
    // The virtual sensors restart into their bootloader far sooner than a real one.
    envStorage.emplace_back("PALO520G_BOOT_RESET_WAIT_MS=" + std::to_string(ResetWaitFor(VirtualSensorOptions{})));
    std::vector<char*> envp;
    for (std::string& entry : envStorage) envp.push_back(entry.data());
    envp.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return;
    if (stderrOnTerminal) {
        int master = -1;
        int slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        errPipe[0] = master;
        errPipe[1] = slave;
    } else if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        return;
    }
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(devNull, 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        // Nothing of the test process (its simulator's terminal, a port it holds) leaks in.
        for (int fd = 3; fd < 1024; ++fd) ::close(fd);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(devNull);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) ::close(outFd_);
    if (errFd_ >= 0) ::close(errFd_);
}

void CliProcess::Pump(int timeoutMs) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0) return;
    int* const owners[2] = {&outFd_, &errFd_};
    std::string* const sinks[2] = {&out_, &err_};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buffer[4096];
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
            sinks[i]->append(buffer, static_cast<size_t>(n));
        } else {
            // End of the pipe, or EIO from a terminal whose other side is gone.
            ::close(*owners[i]);
            *owners[i] = -1;
        }
    }
}

bool CliProcess::WaitForStdoutLines(int lines, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        int count = 0;
        for (char c : out_) count += c == '\n';
        if (count >= lines) return true;
        if (outFd_ < 0 || MillisecondsLeft(deadline) == 0) return false;
        Pump(MillisecondsLeft(deadline));
    }
}

bool CliProcess::WaitForStderr(const std::string& text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (err_.find(text) == std::string::npos) {
        if (errFd_ < 0 || MillisecondsLeft(deadline) == 0) return false;
        Pump(MillisecondsLeft(deadline));
    }
    return true;
}

void CliProcess::Signal(int signalNumber) {
    if (pid_ > 0) ::kill(pid_, signalNumber);
}

void CliProcess::CloseStdout() {
    if (outFd_ >= 0) ::close(outFd_);
    outFd_ = -1;
}

CliResult CliProcess::Wait(int timeoutMs) {
    CliResult result;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    bool exited = false;
    while (!exited) {
        Pump(50);
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exited = true;
        } else if (MillisecondsLeft(deadline) == 0) {
            result.timedOut = true;
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            exited = true;
        }
    }
    pid_ = -1;
    // What the child wrote before it ended is still in the pipes.
    for (int i = 0; i < 100 && (outFd_ >= 0 || errFd_ >= 0); ++i) Pump(50);
    if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = out_;
    result.err = err_;
    return result;
}

CliResult RunCli(const std::vector<std::string>& args, int timeoutMs) {
    return RunCliWithLocale(args, {"LANG=C"}, timeoutMs);
}

CliResult RunCliWithLocale(const std::vector<std::string>& args, const std::vector<std::string>& locale,
                           int timeoutMs) {
    CliProcess process(args, false, locale);
    return process.Wait(timeoutMs);
}

std::vector<std::string> NonEmptyLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}
