#pragma once
// The one door to the sensor: the session owns the open line and offers every
// operation a window page or a command needs as a call that returns a
// SensorResult. Nothing else opens, reads or writes the line; a worker that
// streams (a live run, threshold generation, a firmware download) takes a claim
// and works on the line the claim lends it.
//
// Threads: one thread at a time makes the calls (the window's sensor thread, or
// the command-line tool's main thread); each call blocks it for the exchanges it
// makes. A worker that holds a claim may use the line from its own thread until
// it has been joined, and no call below may be made meanwhile except
// IsConnected, IsLineClaimed and CancelRead (from any thread). The destructor
// closes the port, so every worker must have been joined before it runs.

#include <atomic>
#include <functional>
#include <string>

#include "device/SensorLine.h"
#include "session/SensorResult.h"

struct ParamSetting;

class SensorSession {
public:
    SensorSession() = default;
    SensorSession(const SensorSession&) = delete;
    SensorSession& operator=(const SensorSession&) = delete;

    // ---- The port ----
    // Opens a path or a port number of the registry without entering command mode:
    // each operation brackets its own sequence.
    SensorResult Open(const std::string& path, int baudRate);
    SensorResult Open(int portNumber, int baudRate);
    // The window's Connect: opens the port, reads version, serial number and every
    // parameter into the record in one command-mode bracket. The result is the
    // open's; the read's is ReadResult(), and reads that fail leave the port open
    // and the record holding what was read so far.
    SensorResult Connect(int portNumber, int baudRate, ParamSetting& record);
    void Close();
    // True while the port is open; notices a hang-up on an idle line.
    [[nodiscard]] bool IsConnected() const;

    // ---- What the sensor is ----
    // Version and serial number in one command-mode bracket.
    SensorResult ReadIdentity();
    [[nodiscard]] const std::string& Version() const { return version_; }
    [[nodiscard]] const std::string& SerialNumber() const { return serialNumber_; }
    // The parameter read of the last Connect.
    [[nodiscard]] const SensorResult& ReadResult() const { return readResult_; }

    // ---- Parameters, each in its own command-mode bracket ----
    // Detection setting, trigger and hold tables; the record changes only for what was read.
    SensorResult ReadParameters(ParamSetting& record);
    // Both threshold tables only.
    SensorResult ReadThresholds(ParamSetting& record);
    // Writes every parameter; then, when stored is given, reads back what the
    // sensor keeps into it (*readBack says how that went).
    SensorResult WriteParameters(const ParamSetting& record, ParamSetting* stored = nullptr,
                                 SensorResult* readBack = nullptr);
    // Both threshold tables only (the threshold generator's Undo).
    SensorResult WriteThresholds(const ParamSetting& record);
    // Writes the defaults and the factory tables; then reads back as WriteParameters.
    SensorResult FactoryReset(const ParamSetting& defaults, ParamSetting* stored = nullptr,
                              SensorResult* readBack = nullptr);
    // Turns the sensor's report output on or off.
    SensorResult SwitchReportOutput(bool on);

    // Reads away what the line holds now (the report stream between commands) and
    // lets the device library notice a hang-up. Does nothing while a claim lives.
    void Drain();

    // ---- Workers ----
    // A worker uses the line for as long as a claim lives; meanwhile nobody else
    // may (Drain does nothing).
    class LineClaim {
    public:
        LineClaim() = default;
        ~LineClaim() { Release(); }
        LineClaim(LineClaim&& other) noexcept : session_(other.session_) { other.session_ = nullptr; }
        LineClaim& operator=(LineClaim&& other) noexcept;
        LineClaim(const LineClaim&) = delete;
        LineClaim& operator=(const LineClaim&) = delete;
        void Release();
        [[nodiscard]] bool Holds() const { return session_ != nullptr; }
        // The line, while the claim holds.
        [[nodiscard]] SensorLine& Line() const { return session_->line_; }

    private:
        friend class SensorSession;
        explicit LineClaim(SensorSession& session) : session_(&session) { session_->claims_.fetch_add(1); }
        SensorSession* session_ = nullptr;
    };
    [[nodiscard]] LineClaim ClaimLine() { return LineClaim(*this); }
    [[nodiscard]] bool IsLineClaimed() const { return claims_.load() > 0; }
    // Makes a read blocked on a worker's thread return at once.
    void CancelRead() { line_.CancelRead(); }

private:
    // The result of a sequence of parameter procedures (OPERATOR_*), with the reason
    // of a failure from the line.
    SensorResult ResultOf(int operatorResult, bool commandModeEntered) const;
    // A write sequence (OPERATOR_*) in one command-mode bracket, then, when stored
    // is given, the read-back of every parameter in the same bracket.
    SensorResult WriteAndReadBack(const std::function<int()>& write, ParamSetting* stored, SensorResult* readBack);

    SensorLine line_;
    std::string version_;
    std::string serialNumber_;
    SensorResult readResult_;
    std::atomic<int> claims_{0};
};
