// The connection object against the virtual sensor on a pseudo-terminal.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/RadarDevice.h"
#include "device/SerialPortRegistry.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"
#include "params/SensorConnection.h"
#include "support/SimulatedSensor.h"

namespace {

class SensorConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sensor.Start(FastSensorOptions())); }

    SimulatedSensor sensor;
    std::unique_ptr<CSensorConnection> connection = std::make_unique<CSensorConnection>();
};

TEST_F(SensorConnectionTest, ConnectReadsIdentityAndEveryParameterAndLeavesCommandMode)
{
    ParamSetting record;
    record.GateHoldThreshold[3] = 77;  // replaced by what the sensor holds
    ASSERT_TRUE(connection->Connect(sensor.PortNumber(), 256000, record));
    EXPECT_TRUE(connection->IsConnected());
    EXPECT_FALSE(connection->Version().empty());
    EXPECT_FALSE(connection->SerialNumber().empty());
    EXPECT_EQ(connection->ReadResult(), OPERATOR_OK);
    EXPECT_NE(record.GateHoldThreshold[3], 77u);
    EXPECT_FALSE(sensor->InCommandMode()) << "the sensor streams reports again";
}

TEST_F(SensorConnectionTest, AFailedOpenSaysWhyWithThePath)
{
    EXPECT_FALSE(connection->Open("/dev/palo520g-no-such-port", 115200));
    EXPECT_EQ(connection->OpenError(), eRADAR_OPEN_NO_SUCH_PORT);
    EXPECT_EQ(connection->OpenFailureText("/dev/palo520g-no-such-port"),
              "Cannot open the port /dev/palo520g-no-such-port: The port does not exist.");

    CSensorConnection other;
    ASSERT_TRUE(other.Open(sensor->PortPath(), 115200));
    EXPECT_FALSE(connection->Open(sensor->PortPath(), 115200));
    EXPECT_EQ(connection->OpenFailureText(sensor->PortPath()),
              "Cannot open the port " + sensor->PortPath() + ": The port is in use by another program.");
}

TEST(SensorConnectionLine, AClaimHoldsTheLineUntilItEndsOrIsReleased)
{
    CSensorConnection connection;
    EXPECT_FALSE(connection.IsLineClaimed());
    {
        CSensorConnection::LineClaim claim = connection.ClaimLine();
        EXPECT_TRUE(connection.IsLineClaimed());
        CSensorConnection::LineClaim moved = std::move(claim);
        EXPECT_FALSE(claim.Holds());
        EXPECT_TRUE(connection.IsLineClaimed());
        moved.Release();
        EXPECT_FALSE(connection.IsLineClaimed());
        claim = connection.ClaimLine();
    }
    EXPECT_FALSE(connection.IsLineClaimed());
}

}  // namespace
