// The Win32 serial line. The cases with a far end need PALO520G_TEST_ECHO_PORT
// (a COM name whose other end is tests/windows/echo_peer.py, as
// scripts/test-windows.sh sets up under Wine); without it they are skipped.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "device/SerialPort.h"
#include "support/TempDir.h"

namespace {

std::string EchoPort()
{
    const char* port = std::getenv("PALO520G_TEST_ECHO_PORT");
    return port != nullptr ? port : "";
}

std::string ReadAtLeast(SerialPort& port, size_t wanted)
{
    std::string got;
    uint8_t buffer[256];
    for (int i = 0; i < 50 && got.size() < wanted; ++i) {
        const int n = port.Read(buffer, sizeof buffer, 200, false);
        if (n < 0) break;
        got.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    return got;
}

TEST(SerialPortWin32, OpenFailuresSayWhatThePathIs)
{
    TempDir dir;
    const std::string file = dir.File("not-a-port.txt");
    ASSERT_TRUE(WriteWholeFile(file, "text"));
    struct Case {
        std::string path;
        int baud;
        SerialOpenResult expected;
    };
    const Case cases[] = {
        {"", 115200, SerialOpenResult::NoSuchPort},
        {"COM250", 115200, SerialOpenResult::NoSuchPort},
        {dir.Path(), 115200, SerialOpenResult::IsFolder},
        {file, 115200, SerialOpenResult::NotSerialPort},
        {"COM1", 0, SerialOpenResult::BadBaudRate},
    };
    for (const Case& c : cases) {
        auto port = CreateSerialPort();
        EXPECT_EQ(port->Open(c.path, c.baud), c.expected) << c.path;
        EXPECT_FALSE(port->IsOpen()) << c.path;
        uint8_t byte = 0;
        EXPECT_EQ(port->Read(&byte, 1, 0, true), -1) << c.path;
        EXPECT_FALSE(port->Write(&byte, 1, 100)) << c.path;
    }
}

class SerialPortEchoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (EchoPort().empty()) GTEST_SKIP() << "PALO520G_TEST_ECHO_PORT is not set";
        ASSERT_EQ(port_->Open(EchoPort(), 115200), SerialOpenResult::Ok);
        port_->DiscardInput();
    }
    std::unique_ptr<SerialPort> port_ = CreateSerialPort();
};

TEST_F(SerialPortEchoTest, BytesGoOutAndComeBackAndAQuietLineTimesOut)
{
    const std::string text = "palo520g";
    ASSERT_TRUE(port_->Write(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 1000));
    EXPECT_EQ(ReadAtLeast(*port_, text.size()), "PALO520G");
    uint8_t buffer[16];
    EXPECT_EQ(port_->Read(buffer, sizeof buffer, 100, true), 0);
    EXPECT_EQ(port_->Read(buffer, sizeof buffer, 0, true), 0);
    EXPECT_TRUE(port_->CheckLine());
}

TEST_F(SerialPortEchoTest, ThePortIsKeptToOneOwner)
{
    auto second = CreateSerialPort();
    EXPECT_EQ(second->Open(EchoPort(), 115200), SerialOpenResult::Busy);
    port_->Close();
    EXPECT_EQ(second->Open(EchoPort(), 115200), SerialOpenResult::Ok);
}

TEST_F(SerialPortEchoTest, ACancelEndsAWaitingReadAndLosesNoBytes)
{
    // A cancel before the read ends it at once even with bytes waiting; they stay for the next read.
    const std::string text = "abc";
    ASSERT_TRUE(port_->Write(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 1000));
    EXPECT_EQ(ReadAtLeast(*port_, 3), "ABC");
    port_->CancelRead();
    uint8_t buffer[16];
    EXPECT_EQ(port_->Read(buffer, sizeof buffer, 60000, true), 0);

    // A cancel from another thread ends a read that would otherwise wait a minute.
    std::atomic<bool> done{false};
    int result = -2;
    const auto started = std::chrono::steady_clock::now();
    std::thread reader([&] {
        result = port_->Read(buffer, sizeof buffer, 60000, true);
        done = true;
    });
    while (!done) {
        port_->CancelRead();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    reader.join();
    EXPECT_EQ(result, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    port_->ClearCancel();

    // The line still works after the cancelled read.
    ASSERT_TRUE(port_->Write(reinterpret_cast<const uint8_t*>("z"), 1, 1000));
    EXPECT_EQ(ReadAtLeast(*port_, 1), "Z");
}

// Last: the far end goes away for good.
TEST_F(SerialPortEchoTest, ZLineThatGoesAwayIsReportedAndClosed)
{
    ASSERT_TRUE(port_->Write(reinterpret_cast<const uint8_t*>("~"), 1, 1000));
    uint8_t buffer[16];
    int result = 0;
    for (int i = 0; i < 100 && result == 0; ++i) {
        result = port_->Read(buffer, sizeof buffer, 100, true);
        if (result == 0 && !port_->CheckLine()) result = -1;
    }
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(port_->IsOpen());
}

}  // namespace
