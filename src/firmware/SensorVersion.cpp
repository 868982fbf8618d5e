#include "firmware/SensorVersion.h"

#include <algorithm>

#include "firmware/Bootloader.h"
#include "session/SensorSession.h"

namespace {

// Short: the sensor has just answered command mode, and a wrong guess only delays
// a connect that already found no version.
constexpr int CONNECT_MODE_QUERY_TIMEOUT_MS = 1000;

}  // namespace

std::string ReadSensorFirmwareVersion(SensorLine& line, int portNumber, int baudRate) {
    if (portNumber <= 0) return {};
    // The fifth argument enters command mode with the open, unlike the bootloader's.
    if (!line.OpenByPortNumber(portNumber, baudRate, true, 50)) return {};
    std::string version;
    if (!line.GetVersion(version)) version.clear();
    line.Close();
    return version;
}

std::string ReadSensorVersionForUpdate(SensorLine& line, int portNumber, int baudRate) {
    std::string version = ReadSensorFirmwareVersion(line, portNumber, baudRate);
    version.erase(std::remove(version.begin(), version.end(), 'v'), version.end());
    return version;
}

bool ConnectedSensorInBootloader(SensorSession& session) {
    if (!session.IsConnected() || !session.Version().empty() || !session.ReadResult().commandModeEntered) return false;
    SensorSession::LineClaim claim = session.ClaimLine();
    uint32_t mode = 0;
    return QueryRunningMode(claim.Line(), mode, CONNECT_MODE_QUERY_TIMEOUT_MS) && mode == RUNNING_MODE_BOOTLOADER;
}
