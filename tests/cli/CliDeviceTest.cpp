// ports, info, the port errors of every device command, languages and usage errors.
#include <unistd.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "SimFixture.h"
#include "app/StringTable.h"
#include "session/SensorSession.h"

namespace {

bool IsPrintable(const std::string& text) {
    for (const unsigned char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

TEST(CliPorts, ListsPortsAsTableOrJsonObject) {
    const CliResult text = RunCli({"ports"});
    EXPECT_EQ(text.exitCode, 0) << text.err;

    const CliResult json = RunCli({"ports", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    Json object;
    ASSERT_TRUE(ParseJson(json.out, object)) << json.out;
    EXPECT_EQ(object.at("format"), 1);
    const Json& ports = object.at("ports");
    ASSERT_TRUE(ports.is_array());
    for (const Json& port : ports) {
        EXPECT_TRUE(port.at("path").is_string());
        EXPECT_TRUE(port.contains("description"));
        EXPECT_TRUE(port.contains("usb_id"));
    }
}

// A stable name from the by-id folder (a fake one here, through the documented
// override) is listed beside its device and opens the same sensor.
class CliStablePortNameTest : public CliSimTest {
protected:
    void SetUp() override { ::setenv("PALO520G_SERIAL_BY_ID_DIR", dir_.Path().c_str(), 1); }
    void TearDown() override { ::unsetenv("PALO520G_SERIAL_BY_ID_DIR"); }
};

TEST_F(CliStablePortNameTest, PortsShowTheByIdNameAndPortAcceptsIt) {
    ASSERT_TRUE(StartSim());
    const std::string byId = dir_.File("usb-Silicon_Labs_CP2102_P520G-0001-if00-port0");
    ASSERT_EQ(::symlink(Port().c_str(), byId.c_str()), 0);
    // Not a link to a terminal: never a port.
    ASSERT_TRUE(WriteWholeFile(dir_.File("README"), "x"));
    ASSERT_EQ(::symlink(dir_.File("README").c_str(), dir_.File("usb-not-a-tty").c_str()), 0);

    const CliResult json = RunCli({"ports", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    Json object;
    ASSERT_TRUE(ParseJson(json.out, object)) << json.out;
    const Json& ports = object.at("ports");
    int found = 0;
    for (const Json& port : ports) {
        if (port.at("by_id").is_null()) continue;
        ++found;
        EXPECT_EQ(port.at("by_id").get<std::string>(), byId);
        EXPECT_EQ(port.at("path").get<std::string>(), Port());
    }
    EXPECT_EQ(found, 1) << json.out;

    const CliResult text = RunCli({"ports"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    bool listed = false;
    for (const std::string& line : NonEmptyLines(text.out)) {
        listed = listed || (line.rfind(Port() + " ", 0) == 0 && line.find(byId) != std::string::npos);
    }
    EXPECT_TRUE(listed) << text.out;

    const CliResult info = RunCli({"info", "--port", byId});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_TRUE(Contains(info.out, "Serial number: P520G-SIM-0001"));
}

// A link's name comes from outside the tool: one that carries terminal controls
// is listed escaped, never raw.
TEST_F(CliStablePortNameTest, AByIdNameWithTerminalControlsIsListedEscaped) {
    ASSERT_TRUE(StartSim());
    const std::string hostile = "usb-\x1b[2J\x1b]0;PWN\x07-\xff-port0";
    ASSERT_EQ(::symlink(Port().c_str(), dir_.File(hostile).c_str()), 0);

    const CliResult text = RunCli({"ports"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.out.find('\x07'), std::string::npos);
    EXPECT_EQ(text.out.find('\xff'), std::string::npos);
    EXPECT_TRUE(Contains(text.out, "usb-\\x1b[2J\\x1b]0;PWN\\x07-\\xff-port0")) << text.out;
}

class CliInfoTest : public CliSimTest {};

TEST_F(CliInfoTest, ShowsTheSensorsVersionAndSerialNumber) {
    VirtualSensorOptions options = FastOptions();
    options.version = "v7.3.1";
    options.serialNumber = "P520G-TEST-4242";
    ASSERT_TRUE(StartSim(options));

    const CliResult text = RunOnSim({"info"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(Contains(text.out, "Firmware version: v7.3.1"));
    EXPECT_TRUE(Contains(text.out, "Serial number: P520G-TEST-4242"));

    const CliResult json = RunOnSim({"info", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    Json info;
    ASSERT_TRUE(ParseJson(json.out, info)) << json.out;
    EXPECT_EQ(info.at("version").get<std::string>(), "v7.3.1");
    EXPECT_EQ(info.at("serial_number").get<std::string>(), "P520G-TEST-4242");
}

TEST_F(CliInfoTest, TextsThatAreNotPrintableAreEscapedAndFlagged) {
    const struct {
        const char* name;
        std::string version;
        std::string serialNumber;
        std::string shownVersion;
        std::string shownSerial;
    } cases[] = {
        {"bytes that are not UTF-8", "v1.0.2", "\xFF\xFE" "ABC", "v1.0.2", "\\xff\\xfeABC (suspicious"},
        {"terminal escape", "\x1B[2Jv1", "P520G-1", "\\x1b[2Jv1 (suspicious", "P520G-1"},
        {"C1 control and DEL", "v\xC2\x9B" "1\x7F", "P\\1", "v\\xc2\\x9b1\\x7f (suspicious", "P\\1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualSensorOptions options = FastOptions();
        options.version = c.version;
        options.serialNumber = c.serialNumber;
        ASSERT_TRUE(StartSim(options));

        const CliResult json = RunOnSim({"info", "--json"});
        ASSERT_EQ(json.exitCode, 0) << json.err;
        // The strict reader refuses invalid UTF-8 and raw control characters.
        const nlohmann::json info = nlohmann::json::parse(json.out, nullptr, false);
        ASSERT_FALSE(info.is_discarded()) << json.out;
        EXPECT_EQ(info.value("version_suspicious", false), !IsPrintable(c.version));
        EXPECT_EQ(info.value("serial_number_suspicious", false), !IsPrintable(c.serialNumber));
        if (IsPrintable(c.version)) {
            EXPECT_EQ(info.value("version", ""), c.version);
        }

        const CliResult text = RunOnSim({"info"});
        ASSERT_EQ(text.exitCode, 0) << text.err;
        for (const unsigned char byte : text.out)
            EXPECT_TRUE(byte == '\n' || (byte >= 0x20 && byte < 0x7F)) << "raw byte " << int(byte);
        EXPECT_TRUE(Contains(text.out, "Firmware version: " + c.shownVersion));
        EXPECT_TRUE(Contains(text.out, "Serial number: " + c.shownSerial));
    }
}

// --- the main errors of every command that talks to a sensor ---

struct DeviceCommand {
    const char* name;
    std::vector<std::string> args;  // "{dir}" stands for a fresh folder
};

void PrintTo(const DeviceCommand& c, std::ostream* out) { *out << c.name; }

class CliPortErrorTest : public CliSimTest, public ::testing::WithParamInterface<DeviceCommand> {
protected:
    std::vector<std::string> Args(const std::string& port) {
        // Files the commands need so that only the port can fail.
        WriteWholeFile(dir_.File("with-section.xml"),
                       "<AppConfig><ParamSetting DetectRangeMin=\"0.70\" DetectRangeMax=\"4.20\"/></AppConfig>");
        WriteWholeFile(dir_.File("image.bin"), std::string(512, '\x5A'));
        std::vector<std::string> args;
        for (const std::string& arg : GetParam().args) {
            std::string value = arg;
            const size_t at = value.find("{dir}");
            if (at != std::string::npos) value.replace(at, 5, dir_.Path());
            args.push_back(value);
        }
        args.push_back("--port");
        args.push_back(port);
        return args;
    }
};

TEST_P(CliPortErrorTest, MissingPortExitsWith3AndSaysSo) {
    const CliResult result = RunCli(Args("/dev/palo520g-no-such-port"));
    EXPECT_EQ(result.exitCode, 3) << result.err;
    EXPECT_TRUE(Contains(result.err, "Cannot open the port /dev/palo520g-no-such-port: The port does not exist."));
}

TEST_P(CliPortErrorTest, BusyPortExitsWith3AndSaysSo) {
    ASSERT_TRUE(StartSim());
    // Another program holds the port.
    SensorSession holder;
    ASSERT_TRUE(holder.Open(Port(), 115200));
    const CliResult result = RunCli(Args(Port()));
    holder.Close();
    EXPECT_EQ(result.exitCode, 3) << result.err;
    EXPECT_TRUE(Contains(result.err, "The port is in use by another program."));
}

TEST_P(CliPortErrorTest, SilentSensorExitsWith1) {
    VirtualSensorOptions options = FastOptions();
    options.silent = true;
    ASSERT_TRUE(StartSim(options));
    const std::vector<uint8_t> firmware = sim_->FlashPartition(0);
    const CliResult result = RunCli(Args(Port()), 60000);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_FALSE(result.err.empty());
    // Nothing was written to the sensor's store in any case.
    EXPECT_EQ(sim_->ConfigValue(10), std::optional<uint32_t>(0));
    EXPECT_EQ(sim_->FlashPartition(0), firmware);
}

INSTANTIATE_TEST_SUITE_P(
    EveryDeviceCommand, CliPortErrorTest,
    ::testing::Values(DeviceCommand{"info", {"info"}},
                      DeviceCommand{"params_read", {"params", "read"}},
                      DeviceCommand{"params_write", {"params", "write", "--min", "1.4"}},
                      DeviceCommand{"params_reset", {"params", "reset"}},
                      DeviceCommand{"params_save", {"params", "save", "--config", "{dir}/saved.xml"}},
                      DeviceCommand{"params_load", {"params", "load", "--config", "{dir}/with-section.xml"}},
                      DeviceCommand{"monitor", {"monitor", "--count", "1"}},
                      DeviceCommand{"threshold", {"threshold"}},
                      DeviceCommand{"fw_info", {"fw", "info"}},
                      DeviceCommand{"fw_flash", {"fw", "flash", "{dir}/image.bin", "--partition", "0"}}),
    [](const ::testing::TestParamInfo<DeviceCommand>& test) { return std::string(test.param.name); });

TEST(CliLanguage, LangChoosesTheTextsOfErrors) {
    const CliResult chinese = RunCli({"--lang", "CHS", "info", "--port", "/dev/palo520g-no-such-port"});
    EXPECT_EQ(chinese.exitCode, 3);
    EXPECT_TRUE(Contains(chinese.err, LoadStringText(TEXT_NO_SUCH_PORT, UiLanguage::SimplifiedChinese)));
    EXPECT_EQ(chinese.err.find("does not exist"), std::string::npos);

    // The option may also follow the command.
    const CliResult english = RunCli({"info", "--port", "/dev/palo520g-no-such-port", "--lang", "eng"});
    EXPECT_TRUE(Contains(english.err, "The port does not exist."));
}

TEST(CliUsage, BadCommandLinesExitWith2BeforeTouchingAPort) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"bogus"},
        {"info"},  // no --port
        {"params"},
        {"--lang", "FR", "ports"},
        {"monitor", "--port", "/dev/palo520g-no-such-port", "--count", "0"},
        {"replay", "/nonexistent/RadarData.dat"},
        {"fw", "flash", "/nonexistent/APP0.bin", "--partition", "0", "--port", "/dev/palo520g-no-such-port"},
        // Checked before the port is opened: 2, not 3.
        {"params", "write", "--port", "/dev/palo520g-no-such-port", "--trigger", "20,20,20"},
        {"params", "write", "--port", "/dev/palo520g-no-such-port", "--min", "near"},
        {"params", "write", "--port", "/dev/palo520g-no-such-port", "--response", "slow"},
        {"threshold", "--port", "/dev/palo520g-no-such-port", "--scan", "2.5"},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& arg : args) line += arg + " ";
        const CliResult result = RunCli(args);
        EXPECT_EQ(result.exitCode, 2) << line << "\n" << result.err;
        EXPECT_FALSE(result.err.empty()) << line;
    }
    EXPECT_EQ(RunCli({"--help"}).exitCode, 0);
}

}  // namespace
