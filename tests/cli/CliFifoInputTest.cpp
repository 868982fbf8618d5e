// Inputs that are FIFOs: files that must be whole are refused at once, a record
// file is streamed as it comes.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SimFixture.h"

namespace {

TEST(CliFifoInput, ConfigurationAndFirmwareInputsThatAreFifosAreRefusedAtOnce) {
    TempDir dir;
    const std::string fifo = dir.File("input");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // No sensor is needed: the input is refused before the port would be opened.
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"params", "check", "--config", fifo}, "Cannot read the configuration file " + fifo + ": not a regular file"},
        {{"params", "load", "--config", fifo, "--port", "/dev/palo520g-no-such-port"},
         "Cannot read the configuration file " + fifo + ": not a regular file"},
        {{"params", "save", "--config", fifo, "--port", "/dev/palo520g-no-such-port"},
         "Cannot read the configuration file " + fifo + ": not a regular file"},
        {{"fw", "flash", fifo, "--partition", "0", "--port", "/dev/palo520g-no-such-port"},
         "Cannot read the firmware image " + fifo + ": not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const auto started = std::chrono::steady_clock::now();
        const CliResult result = RunCli(c.args, 20000);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(Contains(result.err, c.message));
        EXPECT_LT(took, std::chrono::seconds(5)) << "refused at once, not after waiting";
    }
}

TEST(CliFifoInput, ReplayOfAFifoReadsAllItsData) {
    const std::string record = std::string(PALO_SOURCE_DIR) + "/tests/data/RadarData_20000.dat";
    const std::string bytes = ReadWholeFile(record);
    ASSERT_FALSE(bytes.empty());
    const CliResult fromFile = RunCli({"replay", "--json", record}, 60000);
    ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;

    TempDir dir;
    const std::string fifo = dir.File("stream.dat");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A short-lived writer: it writes everything, closes, and is gone.
    std::thread writer([&fifo, &bytes] {
        const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return;
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(fd);
    });
    const CliResult fromFifo = RunCli({"replay", "--json", fifo}, 60000);
    // A writer still waiting for a reader is released by opening the other end once.
    if (const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) close(fd);
    writer.join();
    EXPECT_FALSE(fromFifo.timedOut);
    EXPECT_EQ(fromFifo.exitCode, 0) << fromFifo.err;
    EXPECT_EQ(NonEmptyLines(fromFifo.out).size(), NonEmptyLines(fromFile.out).size());
    EXPECT_EQ(fromFifo.out, fromFile.out);
}

}  // namespace
