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
    std::string byIdPath;      // "/dev/serial/by-id/usb-..." naming the same device; empty when none
};

// The system's serial ports (libserialport), each registered; sorted by path.
// Each gets its stable name from /dev/serial/by-id (or from the folder named by
// PALO520G_SERIAL_BY_ID_DIR, for tests): a link there whose device libserialport
// did not list is a serial port as well and is added.
[[nodiscard]] std::vector<SerialPortInfo> EnumSerialPortName();
// The folder of stable names that EnumSerialPortName reads.
[[nodiscard]] std::string SerialByIdFolder();
// Registers a path (or finds its number); 0 for an empty path.
int RegisterSerialPortPath(const std::string& path);
// The path of a registered number; empty when unknown.
[[nodiscard]] std::string SerialPortPathFromNumber(int portNumber);
