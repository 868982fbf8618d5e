#pragma once
// Serial ports as the windows see them: positive port numbers that stand for
// device paths. Enumerated ports and paths the user types share one registry;
// a path keeps its number for the life of the process. 0 means no port.

#include <string>
#include <vector>

struct SerialPortInfo {
    int portNumber = 0;        // registry number of the path
    std::string path;          // "/dev/ttyUSB0"
    std::string description;   // "CP2102 USB to UART Bridge Controller", or empty
    int usbVendorId = -1;      // -1 when not a USB port or unknown
    int usbProductId = -1;
};

// The system's serial ports (libserialport), each registered; sorted by path.
[[nodiscard]] std::vector<SerialPortInfo> EnumSerialPortName();
// Registers a path (or finds its number); 0 for an empty path.
int RegisterSerialPortPath(const std::string& path);
// The path of a registered number; empty when unknown.
[[nodiscard]] std::string SerialPortPathFromNumber(int portNumber);
