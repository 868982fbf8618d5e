// The system's serial ports on Windows (port numbers: SerialPortNumbers.cpp): the names
// from the registry's HARDWARE\DEVICEMAP\SERIALCOMM (every driver that offers a
// COM port enters it there), with descriptions and USB ids from SetupAPI where
// the device manager knows the port. Windows has no by-id names: a COM number
// already stays with its USB adapter.

#include "device/SerialPortRegistry.h"

#include <windows.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <map>

#include "common/WideText.h"

namespace {

// "COM12" -> 12, for sorting COM2 before COM10; 0 for other names.
unsigned long ComNumber(const std::string& name)
{
    if (name.size() < 4 || _strnicmp(name.c_str(), "COM", 3) != 0) {
        return 0;
    }
    char* end = nullptr;
    const unsigned long number = std::strtoul(name.c_str() + 3, &end, 10);
    return end != nullptr && *end == '\0' ? number : 0;
}

std::string UpperAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::vector<std::string> RegistryPortNames()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return names;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD valueNameLength = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, index, valueName, &valueNameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        data[dataBytes / sizeof(wchar_t)] = L'\0';
        const std::string name = Utf8FromWide(data, std::wcslen(data));
        if (!name.empty()) {
            names.push_back(name);
        }
    }
    RegCloseKey(key);
    return names;
}

struct DeviceDetails {
    std::string description;
    int vendor = -1;
    int product = -1;
};

// "USB\VID_10C4&PID_EA60\0001" -> 0x10C4, 0xEA60.
void UsbIdsFromInstance(const std::wstring& instance, DeviceDetails& details)
{
    const std::wstring upper = [&] {
        std::wstring text = instance;
        for (wchar_t& c : text) {
            c = static_cast<wchar_t>(std::towupper(c));
        }
        return text;
    }();
    const size_t vid = upper.find(L"VID_");
    const size_t pid = upper.find(L"PID_");
    if (vid == std::wstring::npos || pid == std::wstring::npos) {
        return;
    }
    details.vendor = static_cast<int>(std::wcstol(upper.c_str() + vid + 4, nullptr, 16));
    details.product = static_cast<int>(std::wcstol(upper.c_str() + pid + 4, nullptr, 16));
}

// Port name (upper case) -> what the device manager says of it.
std::map<std::string, DeviceDetails> SetupApiDetails()
{
    std::map<std::string, DeviceDetails> details;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return details;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        wchar_t portName[64] = {};
        DWORD bytes = sizeof(portName) - sizeof(wchar_t);
        DWORD type = 0;
        const LONG rc = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName), &bytes);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        DeviceDetails entry;
        wchar_t text[256] = {};
        if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_DEVICEDESC, nullptr, reinterpret_cast<BYTE*>(text),
                                              sizeof(text) - sizeof(wchar_t), nullptr)) {
            entry.description = Utf8FromWide(text, std::wcslen(text));
        }
        wchar_t instance[512] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr)) {
            UsbIdsFromInstance(instance, entry);
        }
        details[UpperAscii(Utf8FromWide(portName, std::wcslen(portName)))] = entry;
    }
    SetupDiDestroyDeviceInfoList(set);
    return details;
}

}  // namespace

std::string SerialByIdFolder()
{
    return {};
}

std::vector<SerialPortInfo> EnumSerialPortName()
{
    const std::map<std::string, DeviceDetails> details = SetupApiDetails();
    std::vector<SerialPortInfo> ports;
    for (const std::string& name : RegistryPortNames()) {
        const bool seen = std::any_of(ports.begin(), ports.end(), [&](const SerialPortInfo& port) {
            return UpperAscii(port.path) == UpperAscii(name);
        });
        if (seen) {
            continue;
        }
        SerialPortInfo info;
        info.path = name;
        const auto found = details.find(UpperAscii(name));
        if (found != details.end()) {
            info.description = found->second.description;
            info.usbVendorId = found->second.vendor;
            info.usbProductId = found->second.product;
        }
        ports.push_back(std::move(info));
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        const unsigned long left = ComNumber(a.path);
        const unsigned long right = ComNumber(b.path);
        return left != right ? left < right : a.path < b.path;
    });
    for (SerialPortInfo& info : ports) {
        info.portNumber = RegisterSerialPortPath(info.path);
    }
    return ports;
}
