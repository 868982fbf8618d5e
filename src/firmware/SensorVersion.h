#pragma once
// The sensor's firmware version as the catalogue check compares it: opened on the
// firmware page's own device object in command mode, read, and closed again.

#include <string>

#include "device/SensorLine.h"

// The version text with every 'v' removed ("v1.0.2" gives "1.0.2"); empty when the
// port does not open or the sensor does not answer.
[[nodiscard]] std::string ReadSensorVersionForUpdate(SensorLine& line, int portNumber, int baudRate);
