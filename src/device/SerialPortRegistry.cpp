// The system's serial ports through libserialport (port numbers: SerialPortNumbers.cpp).

#include "device/SerialPortRegistry.h"

#include <libserialport.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace {

// Device path -> by-id link. udev makes one link per device; should a folder hold
// two for one device, the first by name wins so that the choice is stable.
std::map<std::string, std::string> ByIdLinks()
{
    namespace fs = std::filesystem;
    std::map<std::string, std::string> links;
    std::error_code error;
    std::vector<fs::path> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(SerialByIdFolder(), error)) {
        // Only links to terminals: anything else in the folder is not a port.
        if (entry.is_symlink(error) && fs::is_character_file(entry.path(), error)) {
            names.push_back(entry.path());
        }
    }
    std::sort(names.begin(), names.end());
    for (const fs::path& name : names) {
        const fs::path target = fs::canonical(name, error);
        if (!error) {
            links.emplace(target.string(), name.string());
        }
    }
    return links;
}

}  // namespace

std::string SerialByIdFolder()
{
    const char* folder = std::getenv("PALO520G_SERIAL_BY_ID_DIR");
    return folder != nullptr && *folder != '\0' ? folder : "/dev/serial/by-id";
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

    std::map<std::string, std::string> links = ByIdLinks();
    for (SerialPortInfo& info : ports) {
        std::error_code error;
        const std::string device = std::filesystem::canonical(info.path, error).string();
        const auto found = links.find(error ? info.path : device);
        if (found != links.end()) {
            info.byIdPath = found->second;
            links.erase(found);
        }
    }
    for (const auto& [device, link] : links) {
        SerialPortInfo info;
        info.path = device;
        info.byIdPath = link;
        ports.push_back(std::move(info));
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });
    for (SerialPortInfo& info : ports) {
        info.portNumber = RegisterSerialPortPath(info.path);
    }
    return ports;
}
