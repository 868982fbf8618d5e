// Serial line on Windows: CreateFileW on \\.\COMn with no sharing (exclusive),
// a DCB for raw 8N1 at the rate, overlapped reads and writes, and an event that
// another thread sets to cancel a read.
//
// A read waits for its first byte with a total time-out, then takes what else the
// driver holds (ClearCommError says how much) without waiting.

#include "device/SerialPort.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwctype>

#include "common/DbgOutput.h"
#include "common/WideText.h"

namespace {

// "COM5" and "com12" become "\\.\COM5" and "\\.\COM12": only COM1 to COM9 may be
// opened by their bare name, and a name like "COM5" in a folder would be a file.
std::wstring DevicePath(const std::string& path)
{
    std::wstring wide = WideFromUtf8(path);
    if (wide.size() > 3 && (wide[0] == L'C' || wide[0] == L'c') && (wide[1] == L'O' || wide[1] == L'o') &&
        (wide[2] == L'M' || wide[2] == L'm')) {
        bool digits = true;
        for (size_t i = 3; i < wide.size(); ++i) {
            digits = digits && std::iswdigit(wide[i]) != 0;
        }
        if (digits) {
            return L"\\\\.\\" + wide;
        }
    }
    return wide;
}

// The mutex "Global\palo520g-port-<DEVICE PATH>" of a port; null when another
// process of this tool holds it (or it cannot be made).
HANDLE ClaimPort(const std::wstring& device)
{
    std::wstring name = L"Global\\palo520g-port-";
    for (const wchar_t c : device) {
        name += c == L'\\' ? L'/' : static_cast<wchar_t>(std::towupper(c));
    }
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return nullptr;
    }
    return mutex;
}

SerialOpenResult ResultFromError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_INVALID_NAME:
        return SerialOpenResult::NoSuchPort;
    // A COM port open elsewhere answers "access denied": ports are never shared.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return SerialOpenResult::Busy;
    default:
        return SerialOpenResult::Other;
    }
}

class Win32SerialPort final : public SerialPort {
public:
    Win32SerialPort()
    {
        cancelEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        readEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writeEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Win32SerialPort() override
    {
        Close();
        for (HANDLE event : {cancelEvent_, readEvent_, writeEvent_}) {
            if (event != nullptr) {
                CloseHandle(event);
            }
        }
    }

    SerialOpenResult Open(const std::string& path, int baudRate) override
    {
        Close();
        ClearCancel();
        if (path.empty()) {
            return SerialOpenResult::NoSuchPort;
        }
        if (baudRate <= 0) {
            return SerialOpenResult::BadBaudRate;
        }
        const std::wstring device = DevicePath(path);
        const DWORD attributes = GetFileAttributesW(device.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return SerialOpenResult::IsFolder;
        }
        HANDLE handle = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            DbgOutputA(2, "Serial open %s failed: %s (%lu)\r\n", path.c_str(), Win32ErrorText(error).c_str(), error);
            return ResultFromError(error);
        }
        // The driver keeps a COM port to one handle, but not every driver does (Wine's
        // does not): cooperating programs also hold a named mutex for the port.
        HANDLE claim = ClaimPort(device);
        if (claim == nullptr) {
            CloseHandle(handle);
            DbgOutputA(2, "Serial open %s refused: in use by another program\r\n", path.c_str());
            return SerialOpenResult::Busy;
        }
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        if (GetFileType(handle) != FILE_TYPE_CHAR || !GetCommState(handle, &dcb)) {
            CloseHandle(claim);
            CloseHandle(handle);
            return SerialOpenResult::NotSerialPort;
        }
        // Put back at close, so the line is left as it was found.
        savedDcb_ = dcb;
        savedTimeoutsValid_ = GetCommTimeouts(handle, &savedTimeouts_) != FALSE;

        dcb.BaudRate = static_cast<DWORD>(baudRate);
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fAbortOnError = FALSE;
        if (!SetCommState(handle, &dcb)) {
            const DWORD error = GetLastError();
            CloseHandle(claim);
            CloseHandle(handle);
            DbgOutputA(2, "Serial %s refused %d baud: %s (%lu)\r\n", path.c_str(), baudRate,
                       Win32ErrorText(error).c_str(), error);
            return error == ERROR_INVALID_PARAMETER ? SerialOpenResult::BadBaudRate : SerialOpenResult::Other;
        }
        PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
        handle_ = handle;
        claim_ = claim;
        readTimeoutMs_ = -1;
        open_.store(true);
        return SerialOpenResult::Ok;
    }

    void Close() override
    {
        open_.store(false);
        if (handle_ != INVALID_HANDLE_VALUE) {
            SetCommState(handle_, &savedDcb_);
            if (savedTimeoutsValid_) {
                SetCommTimeouts(handle_, &savedTimeouts_);
            }
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
        if (claim_ != nullptr) {
            CloseHandle(claim_);
            claim_ = nullptr;
        }
    }

    bool IsOpen() const override { return open_.load(); }

    bool Write(const uint8_t* data, size_t length, int timeoutMs) override
    {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
        size_t done = 0;
        while (done < length) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = writeEvent_;
            ResetEvent(writeEvent_);
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(length - done, 1u << 20));
            DWORD written = 0;
            if (!WriteFile(handle_, data + done, chunk, &written, &overlapped)) {
                const DWORD error = GetLastError();
                if (error != ERROR_IO_PENDING) {
                    HangUp("write", error);
                    return false;
                }
                const ULONGLONG now = GetTickCount64();
                const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
                if (WaitForSingleObject(writeEvent_, left) != WAIT_OBJECT_0) {
                    // The driver could not take the bytes in time (flow stopped, device gone).
                    CancelIoEx(handle_, &overlapped);
                    GetOverlappedResult(handle_, &overlapped, &written, TRUE);
                    return false;
                }
                if (!GetOverlappedResult(handle_, &overlapped, &written, FALSE)) {
                    HangUp("write", GetLastError());
                    return false;
                }
            }
            done += written;
            if (written == 0 && GetTickCount64() >= deadline) {
                return false;
            }
        }
        return true;
    }

    int Read(uint8_t* buffer, size_t capacity, int timeoutMs, bool cancellable) override
    {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return -1;
        }
        if (capacity == 0) {
            return 0;
        }
        // A cancel that came before this read ends it at once, as one during it would.
        if (cancellable && WaitForSingleObject(cancelEvent_, 0) == WAIT_OBJECT_0) {
            return 0;
        }
        size_t got = 0;
        if (timeoutMs > 0) {
            // Wait for the first byte (or the time-out, or a cancel) ...
            const int first = ReadWaiting(buffer, 1, timeoutMs, cancellable);
            if (first <= 0) {
                return first;
            }
            got = 1;
        }
        // ... then take whatever else has arrived, without waiting.
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_, &errors, &status)) {
            HangUp("status", GetLastError());
            return got > 0 ? static_cast<int>(got) : -1;
        }
        const size_t ready = std::min<size_t>(status.cbInQue, capacity - got);
        if (ready > 0) {
            const int more = ReadWaiting(buffer + got, ready, timeoutMs > 0 ? timeoutMs : 1, false);
            if (more > 0) {
                got += static_cast<size_t>(more);
            } else if (more < 0 && got == 0) {
                return -1;
            }
        }
        return static_cast<int>(got);
    }

    void DiscardInput() override
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            PurgeComm(handle_, PURGE_RXCLEAR);
        }
    }

    bool CheckLine() override
    {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        DWORD errors = 0;
        COMSTAT status{};
        // A USB adapter that was pulled out fails every call on its handle.
        if (!ClearCommError(handle_, &errors, &status)) {
            HangUp("check", GetLastError());
            return false;
        }
        return true;
    }

    void CancelRead() override
    {
        if (cancelEvent_ != nullptr) {
            SetEvent(cancelEvent_);
        }
    }

    void ClearCancel() override
    {
        if (cancelEvent_ != nullptr) {
            ResetEvent(cancelEvent_);
        }
    }

    bool WaitForCancel(int timeoutMs) override
    {
        return cancelEvent_ != nullptr &&
               WaitForSingleObject(cancelEvent_, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs)) == WAIT_OBJECT_0;
    }

private:
    // One overlapped read of exactly `length` bytes that waits up to timeoutMs in
    // all (the driver's total time-out). Returns the bytes read (0 on a time-out or
    // a cancel) or -1 when the line is gone. Bytes that arrived while a cancel was
    // taking effect are returned, not lost.
    int ReadWaiting(uint8_t* buffer, size_t length, int timeoutMs, bool cancellable)
    {
        if (!SetReadTimeout(timeoutMs)) {
            HangUp("timeouts", GetLastError());
            return -1;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = readEvent_;
        ResetEvent(readEvent_);
        DWORD got = 0;
        if (ReadFile(handle_, buffer, static_cast<DWORD>(length), &got, &overlapped)) {
            return static_cast<int>(got);
        }
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            HangUp("read", error);
            return -1;
        }
        HANDLE waits[2] = {readEvent_, cancelEvent_};
        // The driver ends the read after timeoutMs; the margin only guards against one that does not.
        const DWORD woke = WaitForMultipleObjects(cancellable ? 2 : 1, waits, FALSE, static_cast<DWORD>(timeoutMs) + 2000);
        if (woke != WAIT_OBJECT_0) {
            CancelIoEx(handle_, &overlapped);
        }
        if (GetOverlappedResult(handle_, &overlapped, &got, TRUE)) {
            return static_cast<int>(got);
        }
        error = GetLastError();
        // Windows completes a timed-out read with 0 bytes; Wine fails it with a time-out status.
        if (error == ERROR_OPERATION_ABORTED || error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT) {
            return 0;
        }
        HangUp("read", error);
        return -1;
    }

    // Reads end when all requested bytes are there or timeoutMs has passed. (The
    // "return whatever is there" time-outs, interval and multiplier MAXDWORD, are
    // not honoured by every driver: Wine's never completes such a read.)
    bool SetReadTimeout(int timeoutMs)
    {
        if (timeoutMs == readTimeoutMs_) {
            return true;
        }
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = 0;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = 0;
        if (!SetCommTimeouts(handle_, &timeouts)) {
            return false;
        }
        readTimeoutMs_ = timeoutMs;
        return true;
    }

    void HangUp(const char* where, DWORD error)
    {
        DbgOutputA(2, "Serial line lost (%s: %s, %lu), port closed\r\n", where, Win32ErrorText(error).c_str(), error);
        Close();
    }

    HANDLE claim_ = nullptr;                //!< The named mutex that marks the port as ours while open.
    HANDLE handle_ = INVALID_HANDLE_VALUE;  //!< Used only by the thread that holds the device handle's I/O lock.
    DCB savedDcb_{};                        // the line's settings before Open
    COMMTIMEOUTS savedTimeouts_{};
    bool savedTimeoutsValid_ = false;
    int readTimeoutMs_ = -1;                //!< The read time-out the driver holds now; -1 unknown.
    HANDLE cancelEvent_ = nullptr;          //!< Auto-reset; lives as long as the object; CancelRead sets it from any thread.
    HANDLE readEvent_ = nullptr;            //!< Completion of the one overlapped read in flight.
    HANDLE writeEvent_ = nullptr;           //!< Completion of the one overlapped write in flight.
    std::atomic<bool> open_{false};         //!< What IsOpen reports to any thread.
};

}  // namespace

std::unique_ptr<SerialPort> CreateSerialPort()
{
    return std::make_unique<Win32SerialPort>();
}
