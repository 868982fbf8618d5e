#pragma once
// Brings the virtual sensor into its bootloader through the test's own connection,
// as a download that broke off after the software reset leaves it.

#include <gtest/gtest.h>

#include "firmware/Bootloader.h"
#include "support/SimulatedSensor.h"

[[nodiscard]] inline ::testing::AssertionResult ResetIntoBootloader(SimulatedSensor& sensor)
{
    ::testing::AssertionResult opened = sensor.Open(OpenMode::CommandMode);
    if (!opened) {
        return opened;
    }
    const uint64_t resetsBefore = sensor->Counters().softwareResets;
    sensor.Line().SendCommandNoAck(BOOT_CMD_SOFTWARE_RESET, nullptr, 0);
    sensor.CloseDevice();
    // The bootloader answers once the reset's quiet time is over.
    if (!WaitUntil([&] { return sensor->Counters().softwareResets > resetsBefore && !sensor->Restarting(); })) {
        return ::testing::AssertionFailure() << "the sensor did not come back from the software reset";
    }
    if (sensor->RunningMode() != SIM_MODE_BOOTLOADER) {
        return ::testing::AssertionFailure() << "the sensor runs mode " << sensor->RunningMode() << " after the reset";
    }
    return ::testing::AssertionSuccess();
}
