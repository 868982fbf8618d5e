// A bootloader exchange that fails says why in its log line: a sensor that does not
// answer names the time-out it waited out, in either language.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "BootSink.h"
#include "app/StringTable.h"
#include "firmware/Bootloader.h"
#include "sim/VirtualSensor.h"
#include "support/SimulatedSensor.h"
#include "support/TempDir.h"

namespace {

// The text of the first log line of the id, or "" when there is none.
std::string LogLine(const RecordingBootSink::Record& record, int stringId) {
    for (const auto& [id, text] : record.log)
        if (id == stringId) return text;
    return {};
}

TEST(BootloaderFailureCause, ASilentSensorNamesTheTimeOutOfEachFailedStep) {
    TempDir dir;
    const std::string image = dir.File("APP0.bin");
    ASSERT_TRUE(WriteSimFirmwareImage(image, "v9.9.9", 256));
    const struct {
        const char* step;
        UiLanguage language;
        int stringId;
        std::string expected;
    } cases[] = {
        {"information query", UiLanguage::English, TEXT_BOOT_MODE_FAILED,
         "Failed to obtain operation mode! (no reply within 120 ms)\r\n"},
        {"information query", UiLanguage::SimplifiedChinese, TEXT_BOOT_MODE_FAILED,
         "获取运行模式失败 (120 毫秒内无应答)\r\n"},
        {"download through the software reset", UiLanguage::English, TEXT_BOOT_RESET_FAILED,
         "Software-Reset Failed! (no reply within 120 ms)\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        SetUiLanguage(c.language);
        VirtualSensorOptions options;
        options.silent = true;
        SimulatedSensor sim;
        ASSERT_TRUE(sim.Start(options));
        RecordingBootSink sink;
        SensorLine line;
        CBootloader boot(sink, &line);
        boot.portNumber = sim.PortNumber();
        boot.resetWaitMs = ResetWaitFor(options);
        boot.commandTimeoutMs = 120;
        if (c.stringId == TEXT_BOOT_MODE_FAILED)
            EXPECT_FALSE(boot.UpdateFWInfo());
        else
            EXPECT_FALSE(boot.DownloadFW(0, image));
        EXPECT_EQ(LogLine(sink.Snapshot(), c.stringId), c.expected);
    }
    SetUiLanguage(UiLanguage::English);
}

}  // namespace
