// ports, info
#include <cstdio>
#include <memory>

#include <CLI/CLI.hpp>

#include "app/StringIds.h"
#include "Commands.h"
#include "Output.h"
#include "PortList.h"
#include "common/ValueParse.h"
#include "device/SerialPortRegistry.h"

namespace {

std::string UsbId(const SerialPortInfo& port) {
    if (port.usbVendorId < 0 || port.usbProductId < 0) return {};
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", port.usbVendorId & 0xFFFF, port.usbProductId & 0xFFFF);
    return text;
}

int RunPorts(bool json) {
    const std::vector<SerialPortInfo> ports = EnumSerialPortName();
    if (json) {
        std::vector<std::string> items;
        for (const SerialPortInfo& port : ports) {
            JsonObject object;
            object.Str("path", port.path).Str("description", port.description);
            const std::string usb = UsbId(port);
            object.Raw("usb_id", usb.empty() ? "null" : JsonString(usb));
            object.Raw("usb_vendor_id", port.usbVendorId < 0 ? "null" : JsonNumber(static_cast<long long>(port.usbVendorId)));
            object.Raw("usb_product_id",
                       port.usbProductId < 0 ? "null" : JsonNumber(static_cast<long long>(port.usbProductId)));
            object.Raw("by_id", port.byIdPath.empty() ? "null" : JsonString(port.byIdPath));
            items.push_back(object.Text());
        }
        PrintLine(JsonArray(items));
        return EXIT_OK;
    }
    if (ports.empty()) {
        PrintError(Text(TEXT_NO_PORTS));
        return EXIT_OK;
    }
    std::vector<std::vector<std::string>> rows = {
        {Text(TEXT_COLUMN_PORT), Text(TEXT_COLUMN_USB_ID), Text(TEXT_COLUMN_DESCRIPTION), Text(TEXT_COLUMN_BY_ID)}};
    for (const SerialPortInfo& port : ports) {
        const std::string usb = UsbId(port);
        rows.push_back({port.path, usb.empty() ? "-" : usb, port.description.empty() ? "-" : VisibleText(port.description),
                        port.byIdPath.empty() ? "-" : port.byIdPath});
    }
    for (const std::string& line : FormatTable(rows)) PrintLine(line);
    return EXIT_OK;
}

int RunInfo(const PortOptions& options, bool json) {
    DeviceSession session;
    if (const int rc = session.Open(options); rc != EXIT_OK) return rc;
    std::string version;
    std::string serialNumber;
    bool ok = false;
    bool entered = false;
    {
        CommandModeScope mode(session.Handle());
        entered = mode.Entered();
        ok = TAVO_Interface_RadarDevice_GetVersion(session.Handle(), version) != 0;
        ok = TAVO_Interface_RadarDevice_GetSerialNumber(session.Handle(), serialNumber) != 0 && ok;
    }
    if (!ok) {
        PrintError(Text(TEXT_INFO_FAILED));
        if (!entered) PrintError(Text(TEXT_SENSOR_SILENT));
        return EXIT_FAILED;
    }
    // A sensor's texts are printable ASCII; anything else is shown escaped and flagged,
    // as it points at a faulty sensor or a damaged reply.
    const bool versionSuspicious = !IsPrintableAscii(version);
    const bool serialSuspicious = !IsPrintableAscii(serialNumber);
    if (json) {
        JsonObject object;
        object.Str("version", version).Str("serial_number", serialNumber);
        if (versionSuspicious) object.Raw("version_suspicious", "true");
        if (serialSuspicious) object.Raw("serial_number_suspicious", "true");
        PrintLine(object.Text());
    } else {
        const auto shown = [](const std::string& text, bool suspicious) {
            return suspicious ? Text(TEXT_SUSPICIOUS_TEXT, VisibleText(text).c_str()) : text;
        };
        PrintLine(Text(TEXT_FIRMWARE_VERSION, shown(version, versionSuspicious).c_str()));
        PrintLine(Text(TEXT_SERIAL_NUMBER, shown(serialNumber, serialSuspicious).c_str()));
    }
    return EXIT_OK;
}

}  // namespace

void AddDeviceCommands(CLI::App& app, CommandList& commands) {
    {
        CLI::App* ports = app.add_subcommand("ports", "List the serial ports with description and USB ids");
        auto json = std::make_shared<bool>(false);
        ports->add_flag("--json", *json, "Print JSON");
        commands.push_back({ports, [json] { return RunPorts(*json); }});
    }
    {
        CLI::App* info = app.add_subcommand("info", "Show the sensor's firmware version and serial number");
        auto options = std::make_shared<PortListOptions>();
        auto json = std::make_shared<bool>(false);
        AddPortListOptions(info, *options);
        info->add_flag("--json", *json, "Print JSON");
        commands.push_back({info, [options, json] {
            return RunOnEveryPort(*options, *json, [&](const PortOptions& port) { return RunInfo(port, *json); });
        }});
    }
}
