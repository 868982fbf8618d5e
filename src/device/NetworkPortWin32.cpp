#include "device/NetworkPort.h"

// Windows: network ports are not offered yet (docs/windows.md). A tcp:// or
// rfc2217:// name goes to the COM port code, which finds no such port.

#include <filesystem>

bool PortPresent(const std::string& name)
{
    if (IsNetworkPortName(name)) {
        return false;
    }
    std::error_code error;
    return std::filesystem::exists(name, error);
}

std::unique_ptr<SerialPort> CreatePortForAnyName()
{
    return CreateSerialPort();
}
