#pragma once
// One open serial line, as the device library needs it: raw 8N1 at any baud
// rate, exclusive, reads that wait with a time-out and can be cancelled from
// another thread, and a hang-up that closes the line. The operating-system part
// lives in SerialPort<OS>.cpp behind CreateSerialPort().
//
// Threads: Open, Close, Write, Read, DiscardInput and CheckLine are called by one thread at a
// time (the device handle serialises them). CancelRead and IsOpen may be called
// from any thread at any time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

enum class SerialOpenResult {
    Ok,
    NoSuchPort,
    Busy,
    PermissionDenied,
    BadBaudRate,
    ControllingTerminal,  // the terminal this process runs in, never a sensor's line
    IsFolder,             // the path names a folder
    NotSerialPort,        // a file or a device that is not a terminal
    NoServer,             // a network port: nothing accepted the connection
    NoComPortControl,     // an RFC 2217 port: the server did not take the line settings
    Other,
};

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the path in raw 8N1 at the rate, exclusively, with both queues flushed.
    // Closes a line that was open before.
    virtual SerialOpenResult Open(const std::string& path, int baudRate) = 0;
    virtual void Close() = 0;
    [[nodiscard]] virtual bool IsOpen() const = 0;

    // Writes all bytes; false when the line failed (it is then closed) or was not open.
    virtual bool Write(const uint8_t* data, size_t length, int timeoutMs) = 0;
    // Waits up to timeoutMs for bytes and returns how many were read (> 0), 0 on a
    // time-out or a cancel, -1 when the line is not open or just hung up.
    // cancellable = false ignores CancelRead (pending cancels stay pending).
    virtual int Read(uint8_t* buffer, size_t capacity, int timeoutMs, bool cancellable) = 0;
    // Drops whatever the driver has received but nobody read yet.
    virtual void DiscardInput() = 0;
    // Looks, without waiting, whether the line has hung up, and closes it if so.
    // True while it is open.
    virtual bool CheckLine() = 0;

    // Makes a cancellable Read blocked now return 0 at once; without one, the next
    // cancellable Read returns 0 at once.
    virtual void CancelRead() = 0;
    // Forgets a cancel nobody consumed.
    virtual void ClearCancel() = 0;
    // Waits up to timeoutMs for a cancel (consuming it); true when one came.
    // Used to idle a reader whose line is gone instead of letting it spin.
    virtual bool WaitForCancel(int timeoutMs) = 0;
};

// The serial line of this operating system.
std::unique_ptr<SerialPort> CreateSerialPort();
