// The sensor session against the virtual sensor on a pseudo-terminal: what each
// operation does on the line and what its result says when it fails.

#include <gtest/gtest.h>

#include <string>

#include "device/SerialPortRegistry.h"
#include "params/ParamSetting.h"
#include "session/SensorSession.h"
#include "support/SimulatedSensor.h"

namespace {

class SensorSessionTest : public ::testing::Test {
protected:
    SimulatedSensor sensor;
    SensorSession session;
};

TEST_F(SensorSessionTest, ConnectReadsIdentityAndEveryParameterAndLeavesCommandMode)
{
    ASSERT_TRUE(sensor.Start(FastSensorOptions()));
    ParamSetting record;
    record.GateHoldThreshold[3] = 77;  // replaced by what the sensor holds
    ASSERT_TRUE(session.Connect(sensor.PortNumber(), 256000, record));
    EXPECT_TRUE(session.IsConnected());
    EXPECT_FALSE(session.Version().empty());
    EXPECT_FALSE(session.SerialNumber().empty());
    EXPECT_TRUE(session.ReadResult().Ok()) << SensorResultText(session.ReadResult());
    EXPECT_NE(record.GateHoldThreshold[3], 77u);
    EXPECT_FALSE(sensor->InCommandMode()) << "the sensor streams reports again";
}

TEST_F(SensorSessionTest, AFailedOpenSaysWhyWithThePath)
{
    ASSERT_TRUE(sensor.Start(FastSensorOptions()));
    const SensorResult missing = session.Open("/dev/palo520g-no-such-port", 115200);
    EXPECT_EQ(missing.failure, SensorFailure::PortOpen);
    EXPECT_EQ(SensorResultText(missing), "Cannot open the port /dev/palo520g-no-such-port: The port does not exist.");

    SensorSession other;
    ASSERT_TRUE(other.Open(sensor->PortPath(), 115200));
    const SensorResult busy = session.Open(sensor->PortPath(), 115200);
    EXPECT_EQ(SensorResultText(busy),
              "Cannot open the port " + sensor->PortPath() + ": The port is in use by another program.");
}

TEST_F(SensorSessionTest, WriteReadsBackWhatTheSensorStores)
{
    ASSERT_TRUE(sensor.Start(FastSensorOptions()));
    ASSERT_TRUE(session.Open(sensor->PortPath(), 256000));
    ParamSetting written;
    written.GateTriggerThreshold[2] = 61;
    written.ObjectDisappearReportTime = 9;
    ParamSetting stored;
    SensorResult readBack;
    ASSERT_TRUE(session.WriteParameters(written, &stored, &readBack));
    ASSERT_TRUE(readBack.Ok());
    EXPECT_EQ(stored.GateTriggerThreshold[2], 61u);
    EXPECT_EQ(stored.ObjectDisappearReportTime, 9u);

    ParamSetting thresholds;
    ASSERT_TRUE(session.ReadThresholds(thresholds));
    EXPECT_EQ(thresholds.GateTriggerThreshold[2], 61u);
}

// A silent sensor (the wrong baud rate on a real adapter) is the common failure:
// every operation ends with the time-out it waited out, and the sensor's command
// mode was never acknowledged.
TEST_F(SensorSessionTest, ASilentSensorGivesNoReplyWithTheTimeOut)
{
    VirtualSensorOptions options = FastSensorOptions();
    options.silent = true;
    ASSERT_TRUE(sensor.Start(options));
    ParamSetting record;
    const ParamSetting before = record;
    ASSERT_TRUE(session.Connect(sensor.PortNumber(), 256000, record)) << "the port itself opens";
    EXPECT_EQ(session.ReadResult().failure, SensorFailure::NoReply);
    EXPECT_FALSE(session.ReadResult().commandModeEntered);
    EXPECT_TRUE(session.Version().empty());

    struct Case {
        const char* operation;
        SensorResult result;
    };
    ParamSetting stored;
    const Case cases[] = {
        {"read", session.ReadParameters(record)},
        {"write", session.WriteParameters(record, &stored)},
        {"reset", session.FactoryReset(record, &stored)},
        {"identity", session.ReadIdentity()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        EXPECT_EQ(c.result.failure, SensorFailure::NoReply);
        EXPECT_FALSE(c.result.commandModeEntered);
        EXPECT_EQ(SensorResultText(c.result), "no reply within " + std::to_string(c.result.timeoutMs) + " ms");
        EXPECT_GE(c.result.timeoutMs, 100);
    }
    EXPECT_EQ(record.GateTriggerThreshold[0], before.GateTriggerThreshold[0]) << "nothing read, nothing changed";
}

TEST_F(SensorSessionTest, OperationsOnAClosedPortSayNotConnected)
{
    ParamSetting record;
    EXPECT_EQ(session.ReadParameters(record).failure, SensorFailure::NotConnected);
    EXPECT_EQ(session.SwitchReportOutput(true).failure, SensorFailure::NotConnected);
    EXPECT_EQ(SensorResultText(session.ReadIdentity()), "Device Not Connected");
}

TEST(SensorSessionClaim, AClaimHoldsTheLineUntilItEndsOrIsReleased)
{
    SensorSession session;
    EXPECT_FALSE(session.IsLineClaimed());
    {
        SensorSession::LineClaim claim = session.ClaimLine();
        EXPECT_TRUE(session.IsLineClaimed());
        SensorSession::LineClaim moved = std::move(claim);
        EXPECT_FALSE(claim.Holds());
        EXPECT_TRUE(session.IsLineClaimed());
        moved.Release();
        EXPECT_FALSE(session.IsLineClaimed());
        claim = session.ClaimLine();
    }
    EXPECT_FALSE(session.IsLineClaimed());
}

}  // namespace
