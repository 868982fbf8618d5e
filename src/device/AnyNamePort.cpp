// The line the device library opens: a network port for a network name, the
// serial line of this system for anything else.

#include <atomic>

#include "device/NetworkPort.h"

namespace {

// Opens the kind of line the name asks for. Cancels go to both, so that one
// made while the other kind is being opened is not lost (Open clears it anyway).
class AnyNamePort final : public SerialPort {
public:
    AnyNamePort() : local_(CreateSerialPort()), network_(CreateNetworkPort()), active_(local_.get()) {}

    SerialOpenResult Open(const std::string& path, int baudRate) override
    {
        SerialPort* chosen = IsNetworkPortName(path) ? network_.get() : local_.get();
        SerialPort* other = chosen == local_.get() ? network_.get() : local_.get();
        other->Close();
        active_.store(chosen);
        return chosen->Open(path, baudRate);
    }
    void Close() override { active_.load()->Close(); }
    bool IsOpen() const override { return active_.load()->IsOpen(); }
    bool Write(const uint8_t* data, size_t length, int timeoutMs) override
    {
        return active_.load()->Write(data, length, timeoutMs);
    }
    int Read(uint8_t* buffer, size_t capacity, int timeoutMs, bool cancellable) override
    {
        return active_.load()->Read(buffer, capacity, timeoutMs, cancellable);
    }
    void DiscardInput() override { active_.load()->DiscardInput(); }
    bool CheckLine() override { return active_.load()->CheckLine(); }
    void CancelRead() override
    {
        local_->CancelRead();
        network_->CancelRead();
    }
    void ClearCancel() override
    {
        local_->ClearCancel();
        network_->ClearCancel();
    }
    bool WaitForCancel(int timeoutMs) override { return active_.load()->WaitForCancel(timeoutMs); }

private:
    std::unique_ptr<SerialPort> local_;
    std::unique_ptr<SerialPort> network_;
    std::atomic<SerialPort*> active_;  //!< Changed by Open only; read by any thread.
};

}  // namespace

std::unique_ptr<SerialPort> CreatePortForAnyName()
{
    return std::make_unique<AnyNamePort>();
}
