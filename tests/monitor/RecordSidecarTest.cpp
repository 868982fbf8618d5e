#include <gtest/gtest.h>

#include <string>

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
    ASSERT_TRUE(ReadRecordSidecar(dir.File("RadarData_x.json"), read));
    const RecordSidecar defaults;
    EXPECT_EQ(read.baudRate, defaults.baudRate);
    EXPECT_EQ(read.bytesWritten, 18446744073709551615u);
    EXPECT_EQ(read.reportsWritten, defaults.reportsWritten);
    EXPECT_EQ(read.params.ObjectDisappearReportTime, defaults.params.ObjectDisappearReportTime);
    EXPECT_EQ(read.params.GateTriggerThreshold[0], defaults.params.GateTriggerThreshold[0]);
    EXPECT_EQ(read.params.GateTriggerThreshold[1], 1u);
    EXPECT_EQ(read.params.GateTriggerThreshold[15], 4294967295u);

    // What was read writes back and reads the same.
    ASSERT_TRUE(WriteRecordSidecar(dir.File("RadarData_y.json"), read));
    RecordSidecar again;
    ASSERT_TRUE(ReadRecordSidecar(dir.File("RadarData_y.json"), again));
    EXPECT_EQ(again.baudRate, read.baudRate);
    EXPECT_EQ(again.bytesWritten, read.bytesWritten);
    EXPECT_EQ(again.params.ObjectDisappearReportTime, read.params.ObjectDisappearReportTime);
}

}  // namespace
