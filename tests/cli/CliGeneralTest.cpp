// What every command shares: the language chosen from the environment, a reason
// with every failure, and the windowed tool's --help and --version without a display.

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "common/Version.h"
#include "params/RadarOperatorConfig.h"

namespace {

// The language of the texts as the environment chooses it, GNU gettext's way: the
// locale is the first set of LC_ALL, LC_MESSAGES and LANG; a C or POSIX locale gives
// English whatever LANGUAGE says; otherwise the first entry of LANGUAGE counts.
TEST(CliLanguage, TheEnvironmentChoosesAsGettextDoes) {
    const struct {
        std::vector<std::string> locale;
        bool chinese;
    } cases[] = {
        {{}, false},
        {{"LANG=zh_CN.UTF-8"}, true},
        {{"LANG=zh_CN.UTF-8", "LC_ALL=C"}, false},
        {{"LANG=en_US.UTF-8", "LC_ALL=zh_CN.UTF-8"}, true},
        {{"LANG=en_US.UTF-8", "LC_MESSAGES=zh_CN.UTF-8"}, true},
        {{"LC_ALL=en_US.UTF-8", "LC_MESSAGES=zh_CN.UTF-8"}, false},
        {{"LC_ALL=", "LC_MESSAGES=zh_CN.UTF-8"}, true},  // set but empty counts as not set
        {{"LANG=en_US.UTF-8", "LANGUAGE=zh_CN:en"}, true},
        {{"LANG=zh_CN.UTF-8", "LANGUAGE=en_GB:zh_CN"}, false},
        {{"LANG=C", "LANGUAGE=zh_CN"}, false},
        {{"LC_ALL=POSIX", "LANGUAGE=zh_CN"}, false},
        {{"LANG=C.UTF-8", "LANGUAGE=zh_CN"}, false},
        {{"LANGUAGE=zh_CN"}, false},  // no locale at all is the C locale
        {{"LANG=zh_TW.UTF-8"}, false},
    };
    for (const auto& c : cases) {
        std::string trace;
        for (const std::string& variable : c.locale) trace += variable + " ";
        SCOPED_TRACE(trace);
        const CliResult result = RunCliWithLocale({"params", "check", "--absence", "300"}, c.locale);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(Contains(result.err, c.chinese ? "数值不能大于 255" : "The value must be at most 255"));
    }
    // --lang wins over the environment.
    const CliResult chosen = RunCliWithLocale({"--lang", "CHS", "params", "check", "--absence", "300"}, {"LC_ALL=C"});
    EXPECT_TRUE(Contains(chosen.err, "数值不能大于 255"));
}

class CliFailureReason : public CliSimTest {};

// A port that cannot be a sensor's line says what it is instead.
TEST_F(CliFailureReason, APortThatIsNoSerialPortSaysWhatItIs) {
    const struct {
        std::string port;
        std::string reason;
    } cases[] = {
        {dir_.Path(), "it is a folder, not a serial port"},
        {"/dev/null", "it is not a serial port"},
        {dir_.File("missing"), "The port does not exist."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        const CliResult result = RunCli({"params", "read", "--port", c.port});
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_EQ(result.err, "Cannot open the port " + c.port + ": " + c.reason + "\n");
    }
}

// A sensor that does not answer: the read names the time-out it waited out.
TEST_F(CliFailureReason, ASilentSensorNamesTheTimeOut) {
    VirtualSensorOptions options = FastOptions();
    options.silent = true;
    ASSERT_TRUE(StartSim(options));
    const CliResult result = RunOnSim({"params", "read"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "Failed to read parameters: no reply within 2000 ms\n"));
    EXPECT_TRUE(Contains(result.err, "The sensor does not answer (command mode was not acknowledged)."));
}

// Bytes corrupted on the way: whatever fails says why after the failure's text.
TEST_F(CliFailureReason, EveryReadFailureOnACorruptingLineSaysWhy) {
    int failures = 0;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        VirtualSensorOptions options = FastOptions();
        options.corruptByteRate = 0.01;
        options.seed = seed;
        ASSERT_TRUE(StartSim(options));
        const CliResult result = RunOnSim({"params", "read"});
        if (result.exitCode == 0) continue;
        ++failures;
        EXPECT_EQ(result.exitCode, 1);
        const std::string prefix = "Failed to read parameters: ";
        ASSERT_EQ(result.err.rfind(prefix, 0), 0u) << result.err;
        const std::string reason = result.err.substr(prefix.size(), result.err.find('\n') - prefix.size());
        EXPECT_GT(reason.size(), 8u) << result.err;
    }
    EXPECT_GT(failures, 0) << "the corruption rate is meant to make some reads fail";
}

// The write succeeded; the read-back for --verify did not: the message says both.
TEST_F(CliFailureReason, AFailedVerifyReadSaysTheParametersWereWritten) {
    VirtualSensorOptions options = FastOptions();
    options.garbleReplyCommand = PARAM_ID_READ_HOLD_THRESHOLD;
    options.garbleReplyCount = 2;
    ASSERT_TRUE(StartSim(options));
    const std::string config = dir_.File("appConfig.xml");
    ASSERT_TRUE(WriteWholeFile(config, "<AppConfig><ParamSetting ObjectDisappearReportTime=\"77\"/></AppConfig>"));
    const CliResult result = RunOnSim({"params", "write", "--config", config, "--verify"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.err, "The parameters were written, but reading them back to verify them failed: "
                                     "The sensor's reply was implausible twice (malformed reply, 0xA004): "));
    EXPECT_EQ(result.err.find("Failed to read parameters"), std::string::npos) << result.err;
    EXPECT_EQ(sim_->ConfigValue(6), 77u) << "the write reached the sensor";
}

// The windowed tool's help and version come without a window system (over ssh, in
// scripts, for the manual page).
TEST(ToolWithoutDisplay, HelpAndVersionPrintAndEndWithZero) {
    const struct {
        const char* option;
        std::string expected;
    } cases[] = {
        {"--help", "--data-dir <DIR>"},
        // -v is --verbose, as in palo520g; the version has only its long name.
        {"--help", "-v, --verbose"},
        {"--help", "Start on page NAME: params, target or firmware."},
        {"--version", std::string("palo520g-tool ") + PaloVersionText()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(PALO_BINARY_DIR) +
                                    "/palo520g-tool " + c.option + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
        const int status = ::pclose(pipe);
        ASSERT_TRUE(WIFEXITED(status)) << output;
        EXPECT_EQ(WEXITSTATUS(status), 0) << output;
        EXPECT_TRUE(Contains(output, c.expected));
        EXPECT_EQ(output.find("qt."), std::string::npos) << "no Qt warning in the text: " << output;
    }
}

}  // namespace
