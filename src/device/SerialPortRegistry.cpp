// Port numbers for paths, and the system's serial ports through libserialport.

#include "device/SerialPortRegistry.h"

#include <libserialport.h>

#include <algorithm>
#include <mutex>

namespace {

struct Registry {
    std::mutex mutex;                //!< Protects paths.
    std::vector<std::string> paths;  //!< Port number n is paths[n - 1].
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

}  // namespace

int RegisterSerialPortPath(const std::string& path)
{
    if (path.empty()) {
        return 0;
    }
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    const auto found = std::find(registry.paths.begin(), registry.paths.end(), path);
    if (found != registry.paths.end()) {
        return static_cast<int>(found - registry.paths.begin()) + 1;
    }
    registry.paths.push_back(path);
    return static_cast<int>(registry.paths.size());
}

std::string SerialPortPathFromNumber(int portNumber)
{
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (portNumber <= 0 || static_cast<size_t>(portNumber) > registry.paths.size()) {
        return {};
    }
    return registry.paths[static_cast<size_t>(portNumber) - 1];
}

std::vector<SerialPortInfo> EnumSerialPortName()
{
    std::vector<SerialPortInfo> ports;
    struct sp_port** list = nullptr;
    if (sp_list_ports(&list) != SP_OK || list == nullptr) {
        return ports;
    }
    for (struct sp_port** it = list; *it != nullptr; ++it) {
        SerialPortInfo info;
        const char* name = sp_get_port_name(*it);
        if (name == nullptr) {
            continue;
        }
        info.path = name;
        if (const char* description = sp_get_port_description(*it)) {
            info.description = description;
        }
        if (sp_get_port_transport(*it) == SP_TRANSPORT_USB) {
            int vendor = -1;
            int product = -1;
            if (sp_get_port_usb_vid_pid(*it, &vendor, &product) == SP_OK) {
                info.usbVendorId = vendor;
                info.usbProductId = product;
            }
        }
        ports.push_back(std::move(info));
    }
    sp_free_port_list(list);
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });
    for (SerialPortInfo& info : ports) {
        info.portNumber = RegisterSerialPortPath(info.path);
    }
    return ports;
}
