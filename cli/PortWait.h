#pragma once
// Waiting for a port that is not there yet (a production line plugs the sensor
// after starting the command; a replugged adapter comes back under its stable name).

#include <string>

// --wait-for-port: how long every command waits for its port to appear; 0 = not at all.
void SetPortWaitSeconds(int seconds);
[[nodiscard]] int PortWaitSeconds();

// Waits up to PortWaitSeconds() for the port to be present, saying once on standard
// error that it waits. False (after saying so) when it did not appear in time; true
// at once when no wait was asked for, so that the open reports its own reason.
bool WaitForPortToAppear(const std::string& port);

// Waits without a limit until the port is present or Ctrl+C is pressed; false on Ctrl+C.
bool WaitForPortToReturn(const std::string& port);
