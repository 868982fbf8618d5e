#pragma once
// The sensor's firmware as the firmware page and the catalogue check see it: the
// version its application reports, and whether it runs its bootloader instead.

#include <string>

#include "device/SensorLine.h"

class SensorSession;

// Opened in command mode, the version read, and closed again: the version text as
// the sensor gives it ("v1.0.2"); empty when the port does not open or the sensor
// does not answer (a sensor in its bootloader has no version to give).
[[nodiscard]] std::string ReadSensorFirmwareVersion(SensorLine& line, int portNumber, int baudRate);

// The same with every 'v' removed ("v1.0.2" gives "1.0.2"), as the catalogue
// check compares it.
[[nodiscard]] std::string ReadSensorVersionForUpdate(SensorLine& line, int portNumber, int baudRate);

// Right after SensorSession::Connect, on the thread that made it: a sensor that
// took command mode but gave no version may be running its bootloader (a download
// that did not complete). Asks its running mode on the open line and says whether
// it is the bootloader; false at once for a sensor that gave its version or did
// not answer at all.
[[nodiscard]] bool ConnectedSensorInBootloader(SensorSession& session);
