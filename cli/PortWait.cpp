#include "PortWait.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "Output.h"
#include "Session.h"
#include "app/StringIds.h"
#include "device/NetworkPort.h"

namespace {

std::atomic<int> gPortWaitSeconds{0};
// How often a missing port is looked for: udev makes a replugged adapter's node
// and link within a fraction of a second.
constexpr int PORT_POLL_MS = 200;

}  // namespace

void SetPortWaitSeconds(int seconds) { gPortWaitSeconds.store(seconds > 0 ? seconds : 0); }

int PortWaitSeconds() { return gPortWaitSeconds.load(); }

bool WaitForPortToAppear(const std::string& port) {
    const int seconds = PortWaitSeconds();
    if (seconds <= 0 || PortPresent(port)) return true;
    PrintError(Text(TEXT_WAITING_FOR_PORT, seconds, VisibleText(port).c_str()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline && !InterruptRequested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(PORT_POLL_MS));
        if (PortPresent(port)) return true;
    }
    PrintError(Text(TEXT_PORT_DID_NOT_APPEAR, VisibleText(port).c_str(), seconds));
    return false;
}

bool WaitForPortToReturn(const std::string& port) {
    while (!InterruptRequested()) {
        if (PortPresent(port)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(PORT_POLL_MS));
    }
    return false;
}
