// Port numbers for paths, and the system's ports under the same numbers.

#include <gtest/gtest.h>

#include <algorithm>

#include "device/SerialPortRegistry.h"

namespace {

TEST(SerialPortRegistry, PathsKeepTheirNumbers)
{
    EXPECT_EQ(RegisterSerialPortPath(""), 0);
    const int a = RegisterSerialPortPath("/tmp/registry-test-a");
    const int b = RegisterSerialPortPath("/tmp/registry-test-b");
    EXPECT_GT(a, 0);
    EXPECT_GT(b, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(RegisterSerialPortPath("/tmp/registry-test-a"), a);
    EXPECT_EQ(SerialPortPathFromNumber(a), "/tmp/registry-test-a");
    EXPECT_EQ(SerialPortPathFromNumber(b), "/tmp/registry-test-b");
    EXPECT_EQ(SerialPortPathFromNumber(0), "");
    EXPECT_EQ(SerialPortPathFromNumber(-3), "");
    EXPECT_EQ(SerialPortPathFromNumber(b + 1000), "");
}

TEST(SerialPortRegistry, EnumeratedPortsAreRegisteredAndSorted)
{
    const std::vector<SerialPortInfo> ports = EnumSerialPortName();
    if (ports.empty()) {
        GTEST_SKIP() << "this machine has no serial ports";
    }
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(),
                               [](const SerialPortInfo& x, const SerialPortInfo& y) { return x.path < y.path; }));
    for (const SerialPortInfo& port : ports) {
        EXPECT_GT(port.portNumber, 0) << port.path;
        EXPECT_EQ(SerialPortPathFromNumber(port.portNumber), port.path);
        EXPECT_EQ(port.usbVendorId < 0, port.usbProductId < 0) << port.path;
    }
    // Enumerating again gives the same numbers.
    const std::vector<SerialPortInfo> again = EnumSerialPortName();
    for (const SerialPortInfo& port : again) {
        const auto first = std::find_if(ports.begin(), ports.end(),
                                        [&](const SerialPortInfo& p) { return p.path == port.path; });
        if (first != ports.end()) {
            EXPECT_EQ(first->portNumber, port.portNumber) << port.path;
        }
    }
}

}  // namespace
