#include "firmware/SensorVersion.h"

#include <algorithm>

std::string ReadSensorVersionForUpdate(TAVO_RadarDeviceHandle device, int portNumber, int baudRate) {
    if (portNumber <= 0) return {};
    // The fifth argument enters command mode with the open, unlike the bootloader's.
    if (!TAVO_Interface_RadarDevice_Serial_OpenByPortNum(device, portNumber, baudRate, 2, 0, 1, 0, 50)) return {};
    std::string version;
    if (!TAVO_Interface_RadarDevice_GetVersion(device, version)) version.clear();
    TAVO_Interface_RadarDevice_Serial_Close(device);
    version.erase(std::remove(version.begin(), version.end(), 'v'), version.end());
    return version;
}
