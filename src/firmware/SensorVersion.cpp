#include "firmware/SensorVersion.h"

#include <algorithm>

std::string ReadSensorVersionForUpdate(SensorLine& line, int portNumber, int baudRate) {
    if (portNumber <= 0) return {};
    // The fifth argument enters command mode with the open, unlike the bootloader's.
    if (!line.OpenByPortNumber(portNumber, baudRate, true, 50)) return {};
    std::string version;
    if (!line.GetVersion(version)) version.clear();
    line.Close();
    version.erase(std::remove(version.begin(), version.end(), 'v'), version.end());
    return version;
}
