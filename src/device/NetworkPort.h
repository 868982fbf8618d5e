#pragma once
// Sensors on the network, named like addresses where a device path would go:
//   tcp://HOST:PORT      raw TCP: the bytes of the line and nothing else (ser2net's
//                        raw mode, a serial device server); the server sets the baud rate
//   rfc2217://HOST:PORT  Telnet with the COM-PORT option (RFC 2217): the baud rate and
//                        8N1 without flow control are sent to the server at open
// HOST is a name, an IPv4 address or an IPv6 address in brackets ([::1]).
// Reads, writes, cancels and hang-ups behave as a local line's (SerialPort.h): the
// server closing the connection is a hang-up.

#include <memory>
#include <string>

#include "device/SerialPort.h"

enum class NetworkScheme { RawTcp, Rfc2217 };

struct NetworkPortName {
    NetworkScheme scheme = NetworkScheme::RawTcp;
    std::string host;
    std::string service;  // the port number as text
};

// True when the name starts with "tcp://" or "rfc2217://" (any case).
[[nodiscard]] bool IsNetworkPortName(const std::string& name);
// Splits a network port name; false when it is not one or HOST or PORT is missing
// or PORT is not a number in 1..65535.
bool ParseNetworkPortName(const std::string& name, NetworkPortName& parsed);

// True when the port can be opened now as far as one can tell without opening it:
// a device path that exists (a by-id link followed to its device), or a network
// address where a server accepts a connection (closed again at once).
[[nodiscard]] bool PortPresent(const std::string& name);

// A line to a network port (opened by name as above).
std::unique_ptr<SerialPort> CreateNetworkPort();
// A line that opens a network port for a network name and a local serial port
// for anything else; what the device library uses.
std::unique_ptr<SerialPort> CreatePortForAnyName();
