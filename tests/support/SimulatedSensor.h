#pragma once
// The in-tree virtual sensor on a fresh pseudo-terminal and a device handle for
// it, for every test that talks to a sensor over a real terminal.
//
// A sensor that does not start fails the test: pseudo-terminals exist wherever
// the suite runs, so a sensor that cannot start is a fault, never a reason to
// skip. The steps return assertion results: ASSERT_TRUE(sensor.Start(options)).

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/RadarDevice.h"
#include "device/SensorLine.h"
#include "device/SerialPortRegistry.h"
#include "sim/VirtualSensor.h"
#include "support/WaitUntil.h"

// Reply time-out of the device calls a test makes to set a sensor up (not of the
// calls it tests): long enough for a loaded machine.
inline constexpr int SETUP_REPLY_TIMEOUT_MS = 3000;

// Unpaced output and a short software reset, for tests that do not look at the line's timing.
inline VirtualSensorOptions FastSensorOptions()
{
    VirtualSensorOptions options;
    options.pacing = false;
    options.resetDelayMs = 20;
    return options;
}

// How long a tool waits after a software reset before it talks to this sensor
// again: the sensor's own quiet time and room for a loaded machine, since a
// command that reaches the sensor while it restarts is lost.
inline int ResetWaitFor(const VirtualSensorOptions& options)
{
    return options.resetDelayMs + 500;
}

// How a test opens the sensor's port: plain, as the firmware window does, or
// entering command mode at once, as the main window does.
enum class OpenMode { Plain, CommandMode };

class SimulatedSensor {
public:
    SimulatedSensor() : device_(TAVO_Interface_RadarDevice_Serial_Create()) {}
    ~SimulatedSensor()
    {
        Stop();
        TAVO_Interface_RadarDevice_Serial_Destroy(device_);
    }
    SimulatedSensor(const SimulatedSensor&) = delete;
    SimulatedSensor& operator=(const SimulatedSensor&) = delete;

    // Starts a sensor with these options on a fresh pseudo-terminal, after
    // stopping the one started before, if any.
    [[nodiscard]] ::testing::AssertionResult Start(const VirtualSensorOptions& options = {})
    {
        Stop();
        sensor_ = std::make_unique<VirtualSensor>(options);
        std::string error;
        if (!sensor_->Start(&error)) {
            return ::testing::AssertionFailure() << "the virtual sensor did not start: " << error;
        }
        return ::testing::AssertionSuccess();
    }

    // Opens the sensor's port on Device(). With command mode, a sensor that does
    // not answer within the time-out still leaves the port open, as with hardware.
    [[nodiscard]] ::testing::AssertionResult Open(OpenMode line = OpenMode::Plain, int baud = 256000,
                                                  int timeoutMs = SETUP_REPLY_TIMEOUT_MS)
    {
        if (!sensor_) {
            return ::testing::AssertionFailure() << "no sensor was started";
        }
        const int commandMode = line == OpenMode::CommandMode ? 1 : 0;
        if (TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, sensor_->PortPath().c_str(), baud, 2, commandMode,
                                                         commandMode, commandMode, timeoutMs) == 0) {
            return ::testing::AssertionFailure() << "the port " << sensor_->PortPath() << " did not open, error "
                                                 << TAVO_Interface_RadarDevice_GetLastOpenError(device_);
        }
        return ::testing::AssertionSuccess();
    }

    [[nodiscard]] ::testing::AssertionResult StartAndOpen(const VirtualSensorOptions& options = {},
                                                          OpenMode line = OpenMode::Plain, int baud = 256000)
    {
        ::testing::AssertionResult started = Start(options);
        return started ? Open(line, baud) : started;
    }

    // Closes the port, so that another program may open it; the sensor runs on.
    void CloseDevice() { TAVO_Interface_RadarDevice_Serial_Close(device_); }

    // Closes the port and stops the sensor. Safe to repeat.
    void Stop()
    {
        CloseDevice();
        if (sensor_) {
            sensor_->Stop();
        }
    }

    [[nodiscard]] TAVO_RadarDeviceHandle Device() const { return device_; }
    // The same port as a line, for the procedures and workers above the device library.
    [[nodiscard]] SensorLine& Line() { return line_; }
    // The sensor's port as a number of the port registry, the way the windows take a port.
    [[nodiscard]] int PortNumber() const { return RegisterSerialPortPath(sensor_->PortPath()); }
    [[nodiscard]] explicit operator bool() const { return sensor_ != nullptr; }
    VirtualSensor* operator->() const { return sensor_.get(); }
    VirtualSensor& operator*() const { return *sensor_; }

private:
    std::unique_ptr<VirtualSensor> sensor_;
    TAVO_RadarDeviceHandle device_;  //!< Created with the object, so that tests may use it before opening.
    SensorLine line_{device_};
};

// A fixture with one simulated sensor and its device handle.
class SensorTest : public ::testing::Test {
protected:
    [[nodiscard]] ::testing::AssertionResult StartSensor(const VirtualSensorOptions& options = FastSensorOptions())
    {
        return sensor_.Start(options);
    }
    [[nodiscard]] ::testing::AssertionResult OpenPlain(int baud = 256000)
    {
        return sensor_.Open(OpenMode::Plain, baud);
    }
    [[nodiscard]] ::testing::AssertionResult OpenInCommandMode(int baud = 256000,
                                                               int timeoutMs = SETUP_REPLY_TIMEOUT_MS)
    {
        return sensor_.Open(OpenMode::CommandMode, baud, timeoutMs);
    }

    SimulatedSensor sensor_;
    const TAVO_RadarDeviceHandle device_ = sensor_.Device();
    SensorLine& line_ = sensor_.Line();
};
