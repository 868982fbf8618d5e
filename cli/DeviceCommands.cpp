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
#include "firmware/Bootloader.h"

namespace {

// Short: a sensor that answered nothing so far adds this to the wait.
constexpr int BOOTLOADER_QUERY_TIMEOUT_MS = 1000;

std::string UsbId(const SerialPortInfo& port) {
    if (port.usbVendorId < 0 || port.usbProductId < 0) return {};
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", port.usbVendorId & 0xFFFF, port.usbProductId & 0xFFFF);
    return text;
}

// One name a line for shell completion: the stable by-id names, then the device paths.
int PrintPortNames(const std::vector<SerialPortInfo>& ports) {
    for (const SerialPortInfo& port : ports)
        if (!port.byIdPath.empty()) PrintLine(port.byIdPath);
    for (const SerialPortInfo& port : ports) PrintLine(port.path);
    return EXIT_OK;
}

int RunPorts(bool json, bool namesOnly) {
    const std::vector<SerialPortInfo> ports = EnumSerialPortName();
    if (namesOnly) return PrintPortNames(ports);
    if (json) {
        Json items = Json::array();
        for (const SerialPortInfo& port : ports) {
            const std::string usb = UsbId(port);
            items.push_back({{"path", port.path},
                             {"description", port.description},
                             {"usb_id", usb.empty() ? Json() : Json(usb)},
                             {"usb_vendor_id", port.usbVendorId < 0 ? Json() : Json(port.usbVendorId)},
                             {"usb_product_id", port.usbProductId < 0 ? Json() : Json(port.usbProductId)},
                             {"by_id", port.byIdPath.empty() ? Json() : Json(port.byIdPath)}});
        }
        // One object, as every command prints: the list is its member.
        PrintLine(JsonText(Json{{"ports", items}}));
        return EXIT_OK;
    }
    if (ports.empty()) {
        PrintError(Text(TEXT_NO_PORTS));
        return EXIT_OK;
    }
    std::vector<std::vector<std::string>> rows = {
        {Text(TEXT_COLUMN_PORT), Text(TEXT_COLUMN_USB_ID), Text(TEXT_COLUMN_DESCRIPTION),
         Text(TEXT_COLUMN_BY_ID)}};
    for (const SerialPortInfo& port : ports) {
        const std::string usb = UsbId(port);
        // Device and link names come from the system and the adapter's own strings.
        rows.push_back({VisibleText(port.path), usb.empty() ? "-" : usb,
                        port.description.empty() ? "-" : VisibleText(port.description),
                        port.byIdPath.empty() ? "-" : VisibleText(port.byIdPath)});
    }
    for (const std::string& line : FormatTable(rows)) PrintLine(line);
    return EXIT_OK;
}

// Asks the running mode of a sensor that did not give its identity; true when it is
// its bootloader.
bool SensorInBootloader(SensorSession& sensor) {
    SensorSession::LineClaim claim = sensor.ClaimLine();
    uint32_t mode = 0;
    return QueryRunningMode(claim.Line(), mode, BOOTLOADER_QUERY_TIMEOUT_MS) && mode == RUNNING_MODE_BOOTLOADER;
}

int RunInfo(const PortOptions& options, bool json) {
    DeviceSession session;
    if (const int rc = session.Open(options); rc != EXIT_OK) return rc;
    std::string version;
    std::string serialNumber;
    const SensorResult identity = session.Sensor().ReadIdentity();
    version = session.Sensor().Version();
    serialNumber = session.Sensor().SerialNumber();
    if (!identity && SensorInBootloader(session.Sensor())) {
        // After an interrupted download the sensor runs only its bootloader: say so and
        // name the way back, rather than "no answer", which sends a user to the cabling.
        if (json) {
            PrintLine(JsonText({{"version", nullptr},
                                {"serial_number", nullptr},
                                {"running_mode", "bootloader"},
                                {"recovery", "palo520g fw flash --port " + options.port + " --partition N IMAGE"}}));
        }
        PrintError(Text(TEXT_INFO_IN_BOOTLOADER, VisibleText(options.port).c_str(), VisibleText(options.port).c_str()));
        return EXIT_IN_BOOTLOADER;
    }
    if (!identity) {
        PrintError(Text(TEXT_INFO_FAILED));
        if (!identity.commandModeEntered) PrintError(Text(TEXT_SENSOR_SILENT));
        return EXIT_FAILED;
    }
    // A sensor's texts are printable ASCII; anything else is shown escaped and flagged,
    // as it points at a faulty sensor or a damaged reply.
    const bool versionSuspicious = !IsPrintableAscii(version);
    const bool serialSuspicious = !IsPrintableAscii(serialNumber);
    if (json) {
        Json object = {{"version", version}, {"serial_number", serialNumber}};
        if (versionSuspicious) object["version_suspicious"] = true;
        if (serialSuspicious) object["serial_number_suspicious"] = true;
        PrintLine(JsonText(object));
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
        auto names = std::make_shared<bool>(false);
        CLI::Option* jsonFlag = ports->add_flag("--json", *json, "Print JSON");
        ports->add_flag("--names", *names, "Only the names, stable ones first, one a line (for shell completion)")
            ->excludes(jsonFlag);
        commands.push_back({ports, [json, names] { return RunPorts(*json, *names); }});
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
