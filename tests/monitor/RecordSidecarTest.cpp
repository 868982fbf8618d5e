#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "monitor/CurrentEstimate.h"
#include "monitor/RecordSidecar.h"
#include "support/TempDir.h"

namespace {

TEST(RecordSidecar, TextsThatAreNoDescriptionAreRefusedWithoutThrowing) {
    // A "format" member of another kind used to throw out of the reader.
    const char* texts[] = {
        R"({"format": 1, "port": "/dev/ttyS9"})",
        R"({"format": null})",
        R"({"format": ["palo520g-record"]})",
        R"({"port": "/dev/ttyS9"})",
        R"(["palo520g-record"])",
        R"({"format": "palo520g-record")",
    };
    TempDir dir;
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(WriteWholeFile(dir.File("RadarData_x.json"), text));
        RecordSidecar read;
        std::string error;
        bool ok = true;
        EXPECT_NO_THROW(ok = ReadRecordSidecar(dir.File("RadarData_x.json"), read, &error));
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, "not a record description");
        EXPECT_EQ(read.port, "");
    }
}

TEST(RecordSidecar, NumbersTooLargeForTheirFieldKeepTheDefault) {
    // Cut down to the field's size they used to become other numbers (2^32 + 1 read as 1,
    // 3000000000 as a negative baud rate).
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("RadarData_x.json"), R"({"format": "palo520g-record",
        "baud_rate": 3000000000, "bytes_written": 18446744073709551615, "reports_written": -1,
        "param_setting": {"ObjectDisappearReportTime": 4294967297,
                          "GateTriggerThreshold": [4294967296, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 4294967295]}})"));
    RecordSidecar read;
    std::vector<std::string> replaced;
    ASSERT_TRUE(ReadRecordSidecar(dir.File("RadarData_x.json"), read, nullptr, &replaced));
    EXPECT_EQ(replaced, (std::vector<std::string>{"baud_rate 3000000000", "ObjectDisappearReportTime 4294967297",
                                                  "GateTriggerThreshold[0] 4294967296",
                                                  "GateTriggerThreshold[15] 4294967295", "reports_written -1"}));
    const RecordSidecar defaults;
    EXPECT_EQ(read.baudRate, defaults.baudRate);
    EXPECT_EQ(read.bytesWritten, 18446744073709551615u);
    EXPECT_EQ(read.reportsWritten, defaults.reportsWritten);
    EXPECT_EQ(read.params.ObjectDisappearReportTime, defaults.params.ObjectDisappearReportTime);
    EXPECT_EQ(read.params.GateTriggerThreshold[0], defaults.params.GateTriggerThreshold[0]);
    EXPECT_EQ(read.params.GateTriggerThreshold[1], 1u);
    EXPECT_EQ(read.params.GateTriggerThreshold[15], defaults.params.GateTriggerThreshold[15]) << "no sensor has 2^32 dB";

    // What was read writes back and reads the same.
    ASSERT_TRUE(WriteRecordSidecar(dir.File("RadarData_y.json"), read));
    RecordSidecar again;
    ASSERT_TRUE(ReadRecordSidecar(dir.File("RadarData_y.json"), again));
    EXPECT_EQ(again.baudRate, read.baudRate);
    EXPECT_EQ(again.bytesWritten, read.bytesWritten);
    EXPECT_EQ(again.params.ObjectDisappearReportTime, read.params.ObjectDisappearReportTime);
}

TEST(RecordSidecar, FilesThatCannotBeADescriptionAreRefusedAtOnceWithTheReason) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("folder.json").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo.json").c_str(), 0600), 0);  // no writer: reading it would wait for ever
    ASSERT_TRUE(WriteWholeFile(dir.File("huge.json"), R"({"format": "palo520g-record", "notes": ")" +
                                                          std::string(MAX_SIDECAR_SIZE, 'x') + "\"}"));
    ASSERT_TRUE(WriteWholeFile(dir.File("malformed.json"), R"({"format": "palo520g-record", "port": )"));
    // A number no double holds makes the text no JSON.
    ASSERT_TRUE(WriteWholeFile(dir.File("overflow.json"), R"({"format": "palo520g-record", "param_setting": {"DetectRangeMax": 1e400}})"));
    const struct {
        const char* name;
        const char* why;
    } cases[] = {
        {"folder.json", "Is a directory"},
        {"fifo.json", "not a regular file"},
        {"huge.json", "larger than 1048576 bytes"},
        {"malformed.json", "not a record description"},
        {"overflow.json", "not a record description"},
        {"missing.json", "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordSidecar read;
        read.port = "kept";
        std::string error;
        bool ok = true;
        EXPECT_NO_THROW(ok = ReadRecordSidecar(dir.File(c.name), read, &error));
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, c.why);
        EXPECT_EQ(read.port, "kept");
    }
}

TEST(RecordSidecar, ValuesOutOfTheirRangeKeepTheDefaultAndAreNamed) {
    const ParamSetting p;
    const CurrentConstants k;
    const struct {
        const char* name;
        std::string members;  // inside "param_setting" or "current_constants"
        bool constants;
        std::vector<std::string> replaced;
    } cases[] = {
        {"response of 0 Hz", R"("ResponseFreq": 0)", false, {"ResponseFreq 0"}},
        {"negative report rate", R"("RangeReportFreq": -2, "StateReportFreq": 1e6)", false,
         {"StateReportFreq 1000000.0", "RangeReportFreq -2"}},
        {"range beyond 16 gates", R"("DetectRangeMax": 1e300)", false, {"DetectRangeMax 1e+300"}},
        {"empty range", R"("DetectRangeMin": 5.6, "DetectRangeMax": 2.1)", false,
         {"DetectRangeMin 5.6", "DetectRangeMax 2.1"}},
        {"gate of no length", R"("RangeResolution": 0)", false, {"RangeResolution 0"}},
        {"gates too short for the range left out", R"("RangeResolution": 0.05)", false, {"RangeResolution 0.05"}},
        {"text for a number", R"("DetectRangeMin": "near")", false, {"DetectRangeMin \"near\""}},
        {"table of 15", R"("GateHoldThreshold": [1,2,3])", false, {"GateHoldThreshold [1,2,3]"}},
        {"threshold of 300 dB", R"("GateHoldThreshold": [300,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16])", false,
         {"GateHoldThreshold[0] 300"}},
        {"currents beyond reason", R"("CurrentDetectValueMA": 1.7e308, "CurrentLPValueMA": -1)", true,
         {"CurrentDetectValueMA 1.7e+308", "CurrentLPValueMA -1"}},
        {"current of a power station", R"("CurrentReportValueMA": 1e12)", true, {"CurrentReportValueMA 1000000000000.0"}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string section = c.constants ? "current_constants" : "param_setting";
        ASSERT_TRUE(WriteWholeFile(dir.File("RadarData_x.json"),
                                   R"({"format": "palo520g-record", ")" + section + R"(": {)" + c.members + "}}"));
        RecordSidecar read;
        std::vector<std::string> replaced;
        ASSERT_TRUE(ReadRecordSidecar(dir.File("RadarData_x.json"), read, nullptr, &replaced));
        EXPECT_EQ(replaced, c.replaced);
        EXPECT_EQ(read.params.ResponseFreq, p.ResponseFreq);
        EXPECT_EQ(read.params.StateReportFreq, p.StateReportFreq);
        EXPECT_EQ(read.params.RangeReportFreq, p.RangeReportFreq);
        EXPECT_EQ(read.params.RangeResolution, p.RangeResolution);
        EXPECT_EQ(read.params.DetectRangeMin, p.DetectRangeMin);
        EXPECT_EQ(read.params.DetectRangeMax, p.DetectRangeMax);
        EXPECT_EQ(read.params.GateHoldThreshold[0], p.GateHoldThreshold[0]);
        EXPECT_EQ(read.constants.CurrentDetectValueMA, k.CurrentDetectValueMA);
        EXPECT_EQ(read.constants.CurrentLPValueMA, k.CurrentLPValueMA);
        EXPECT_EQ(read.constants.CurrentReportValueMA, k.CurrentReportValueMA);
        for (int state = 0; state < 4; ++state)
            EXPECT_TRUE(std::isfinite(EstimateCurrent(state, read.params, read.constants))) << state;
    }

    // Values a sensor may store beyond what the page allows are used as they are.
    ASSERT_TRUE(WriteWholeFile(dir.File("RadarData_x.json"), R"({"format": "palo520g-record", "param_setting":
        {"RangeResolution": 0.75, "DetectRangeMin": 0.75, "DetectRangeMax": 12.0, "StateReportFreq": 8.0,
         "RangeReportFreq": 8.0, "ObjectDisappearReportTime": 600}})"));
    RecordSidecar read;
    std::vector<std::string> replaced;
    ASSERT_TRUE(ReadRecordSidecar(dir.File("RadarData_x.json"), read, nullptr, &replaced));
    EXPECT_TRUE(replaced.empty());
    EXPECT_EQ(read.params.DetectRangeMax, 12.0);
    EXPECT_EQ(read.params.ObjectDisappearReportTime, 600u);
}

}  // namespace
