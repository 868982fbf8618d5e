#pragma once
// A virtual sensor on a fresh pseudo-terminal and a device handle for it.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/RadarDevice.h"
#include "sim/VirtualSensor.h"

inline VirtualSensorOptions FastOptions()
{
    VirtualSensorOptions options;
    options.pacing = false;
    options.resetDelayMs = 20;
    return options;
}

class SimulatorFixture : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (device_ != nullptr) {
            TAVO_Interface_RadarDevice_Serial_Close(device_);
            TAVO_Interface_RadarDevice_Serial_Destroy(device_);
        }
        if (sensor_) {
            sensor_->Stop();
        }
    }

    void StartSensor(const VirtualSensorOptions& options = FastOptions())
    {
        sensor_ = std::make_unique<VirtualSensor>(options);
        std::string error;
        ASSERT_TRUE(sensor_->Start(&error)) << error;
        device_ = TAVO_Interface_RadarDevice_Serial_Create();
        ASSERT_NE(device_, nullptr);
    }

    // Opens the sensor's port the way the main window does: command mode right away.
    int OpenInCommandMode(int baud = 256000)
    {
        return TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, sensor_->PortPath().c_str(), baud, 2, 1, 1, 1,
                                                             150);
    }
    // The firmware window's way: no command mode.
    int OpenPlain(int baud = 256000)
    {
        return TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, sensor_->PortPath().c_str(), baud, 2, 0, 0, 0,
                                                             50);
    }

    std::unique_ptr<VirtualSensor> sensor_;
    TAVO_RadarDeviceHandle device_ = nullptr;
};
