// Network port names: which names are addresses and how they split.
#include <gtest/gtest.h>

#include "device/NetworkPort.h"

namespace {

TEST(NetworkPortName, SplitsTheSchemeHostAndPortOrRefusesTheName)
{
    struct Case {
        const char* name;
        bool valid;
        NetworkScheme scheme;
        const char* host;
        const char* service;
    };
    const Case cases[] = {
        {"tcp://127.0.0.1:4000", true, NetworkScheme::RawTcp, "127.0.0.1", "4000"},
        {"RFC2217://station-3:4001", true, NetworkScheme::Rfc2217, "station-3", "4001"},
        {"rfc2217://[fd00::12]:4001/", true, NetworkScheme::Rfc2217, "fd00::12", "4001"},
        {"tcp://host", false, NetworkScheme::RawTcp, "", ""},
        {"tcp://:4000", false, NetworkScheme::RawTcp, "", ""},
        {"tcp://host:0", false, NetworkScheme::RawTcp, "", ""},
        {"tcp://host:65536", false, NetworkScheme::RawTcp, "", ""},
        {"tcp://host:40a0", false, NetworkScheme::RawTcp, "", ""},
        {"tcp://fd00::12:4000", false, NetworkScheme::RawTcp, "", ""},  // IPv6 needs brackets
        {"rfc2217://[fd00::12]4001", false, NetworkScheme::Rfc2217, "", ""},
        {"/dev/ttyUSB0", false, NetworkScheme::RawTcp, "", ""},
        {"telnet://host:23", false, NetworkScheme::RawTcp, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NetworkPortName parsed;
        ASSERT_EQ(ParseNetworkPortName(c.name, parsed), c.valid);
        if (!c.valid)
            continue;
        EXPECT_EQ(parsed.scheme, c.scheme);
        EXPECT_EQ(parsed.host, c.host);
        EXPECT_EQ(parsed.service, c.service);
    }
    // A malformed address is still an address: it must not be opened as a device path.
    EXPECT_TRUE(IsNetworkPortName("tcp://host"));
    EXPECT_FALSE(IsNetworkPortName("/dev/tcp://x"));
    EXPECT_FALSE(PortPresent("tcp://host"));
}

}  // namespace
