// The serial layer on terminals it does not own: the line's settings are put back
// at close, and the program's own terminal is never taken for a sensor's port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "device/SerialPort.h"

namespace {

// A pseudo-terminal pair; the far end stays open so the line stays up.
struct PtyPair {
    PtyPair()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
            char name[256] = {};
            if (ptsname_r(master, name, sizeof name) == 0) slave = name;
        }
    }
    ~PtyPair()
    {
        if (master >= 0) close(master);
    }
    int master = -1;
    std::string slave;
};

TEST(SerialPortTerminal, CloseRestoresTheSettingsTheLineHadAtOpen)
{
    PtyPair pty;
    ASSERT_FALSE(pty.slave.empty());
    const int observer = open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(observer, 0);
    // A terminal as a shell leaves it: line editing, echo, 9600 baud.
    termios before {};
    ASSERT_EQ(tcgetattr(observer, &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL;
    before.c_oflag |= OPOST;
    cfsetspeed(&before, B9600);
    ASSERT_EQ(tcsetattr(observer, TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(observer, &before), 0);

    std::unique_ptr<SerialPort> port = CreateSerialPort();
    ASSERT_EQ(port->Open(pty.slave, 115200), SerialOpenResult::Ok);
    termios during {};
    ASSERT_EQ(tcgetattr(observer, &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u) << "raw while open";
    port->Close();

    termios after {};
    ASSERT_EQ(tcgetattr(observer, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    close(observer);
}

TEST(SerialPortTerminal, TheControllingTerminalIsRefused)
{
    PtyPair pty;
    ASSERT_FALSE(pty.slave.empty());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A new session whose controlling terminal is the pseudo-terminal, as in a shell.
        if (setsid() < 0) _exit(10);
        const int tty = open(pty.slave.c_str(), O_RDWR);
        if (tty < 0 || ioctl(tty, TIOCSCTTY, 0) != 0) _exit(11);
        std::unique_ptr<SerialPort> port = CreateSerialPort();
        int failures = 0;
        for (const std::string& path : {std::string("/dev/tty"), pty.slave}) {
            if (port->Open(path, 115200) != SerialOpenResult::ControllingTerminal) ++failures;
            port->Close();
        }
        _exit(failures);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "paths not refused (10, 11: the test could not set up the terminal)";

    // The same terminal is an ordinary line for a program that does not run in it.
    std::unique_ptr<SerialPort> port = CreateSerialPort();
    EXPECT_EQ(port->Open(pty.slave, 115200), SerialOpenResult::Ok);
}

}  // namespace
