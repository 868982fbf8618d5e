#pragma once
// Commands that set up a row of sensors at once: --port more than once or
// --ports-from FILE, one thread per port, each port's lines prefixed with its
// name, one JSON object per port, a summary line, and an exit code of 0 only
// when every port succeeded. A port that fails never stops the others.

#include <functional>
#include <string>
#include <vector>

#include "Session.h"

// Options of a command that may run on many sensors.
struct PortListOptions {
    std::vector<std::string> ports;  // --port, in the order given
    std::string portsFrom;           // --ports-from: one port a line, # starts a comment
    int baud = 115200;
};
void AddPortListOptions(CLI::App* command, PortListOptions& options);

// Runs run(port) for every port. With one --port and no --ports-from it runs on
// the calling thread and prints exactly as a single-port command does. Otherwise
// each port runs on its own thread inside a PortOutputScope: lines start with
// "<port>: "; with json, what run prints on standard output is gathered into
// that port's object {"port", "ok", "exit_code", "result", "errors"} printed as
// the port finishes. Returns run's code for a single port; for many, EXIT_OK when
// all succeeded, EXIT_FAILED otherwise, EXIT_USAGE for a bad or empty list.
// run is called concurrently and must only touch state of its own port.
int RunOnEveryPort(const PortListOptions& options, bool json, const std::function<int(const PortOptions&)>& run);
