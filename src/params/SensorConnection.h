#pragma once
// One connection to the sensor: the device object, opening a port with the reason
// it failed, the version and serial number, the parameter read after connecting,
// and who uses the line right now.
//
// Threads: the owner's thread (the window's, or the command-line tool's main
// thread) makes every call. A worker borrows Handle() while the owner holds a
// LineClaim for it, and is joined before the claim ends; IsLineClaimed may be asked
// from any thread. The destructor closes the port and destroys the device object,
// so every worker must have been joined before it runs.

#include <atomic>
#include <string>

#include "device/RadarDevice.h"

struct ParamSetting;

// The sentence for a reason an open failed, in the user-interface language.
[[nodiscard]] std::string OpenErrorText(eRADAR_OPEN_ERROR error);
// "Cannot open the port PATH: reason", for any device object (the firmware page has its own).
[[nodiscard]] std::string PortOpenFailureText(const std::string& path, eRADAR_OPEN_ERROR error);

class CSensorConnection {
public:
    CSensorConnection();
    ~CSensorConnection();
    CSensorConnection(const CSensorConnection&) = delete;
    CSensorConnection& operator=(const CSensorConnection&) = delete;

    [[nodiscard]] TAVO_RadarDeviceHandle Handle() const { return device_; }

    // Opens the port (a path, or a port number of the registry) without entering
    // command mode: each procedure brackets its own sequence. True when it opened.
    bool Open(const std::string& path, int baudRate);
    bool Open(int portNumber, int baudRate);
    // The window's Connect: opens the port entering command mode, reads version,
    // serial number and every parameter into the record, leaves command mode. True
    // when the port opened; reads that fail leave it open and the record holding
    // what was read so far (ReadResult tells).
    bool Connect(int portNumber, int baudRate, ParamSetting& record);
    void Close();
    // Non-zero while the port is open; notices a hang-up on an idle line.
    [[nodiscard]] bool IsConnected() const;

    // Version and serial number in one command-mode bracket; true when both came.
    bool ReadIdentity();
    [[nodiscard]] const std::string& Version() const { return version_; }
    [[nodiscard]] const std::string& SerialNumber() const { return serialNumber_; }
    // OPERATOR_* of the parameter read of the last Connect.
    [[nodiscard]] int ReadResult() const { return readResult_; }

    // Why the last open failed (eRADAR_OPEN_OK after one that succeeded).
    [[nodiscard]] eRADAR_OPEN_ERROR OpenError() const;
    // "Cannot open the port PATH: reason" for the last open.
    [[nodiscard]] std::string OpenFailureText(const std::string& path) const;

    // A worker reads the line for as long as a claim lives; meanwhile nobody else
    // may read it (the window's link watch pauses).
    class LineClaim {
    public:
        LineClaim() = default;
        explicit LineClaim(std::atomic<int>& claims) : claims_(&claims) { claims_->fetch_add(1); }
        ~LineClaim() { Release(); }
        LineClaim(LineClaim&& other) noexcept : claims_(other.claims_) { other.claims_ = nullptr; }
        LineClaim& operator=(LineClaim&& other) noexcept;
        LineClaim(const LineClaim&) = delete;
        LineClaim& operator=(const LineClaim&) = delete;
        void Release();
        [[nodiscard]] bool Holds() const { return claims_ != nullptr; }

    private:
        std::atomic<int>* claims_ = nullptr;
    };
    [[nodiscard]] LineClaim ClaimLine() { return LineClaim(claims_); }
    [[nodiscard]] bool IsLineClaimed() const { return claims_.load() > 0; }

private:
    TAVO_RadarDeviceHandle device_;
    std::string version_;
    std::string serialNumber_;
    int readResult_ = 0;
    std::atomic<int> claims_{0};
};
