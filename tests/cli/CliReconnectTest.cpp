// monitor --reconnect across replugs, and --wait-for-port.
#include <signal.h>

#include <string>
#include <vector>

#include "SimFixture.h"
#include "support/WaitUntil.h"

namespace {

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

class CliReconnectTest : public CliSimTest {
protected:
    // The sensor behind a stable name, as /dev/serial/by-id gives one: the link goes
    // with the sensor and comes back with the next.
    VirtualSensorOptions LinkedOptions() {
        VirtualSensorOptions options = FastOptions();
        options.linkPath = Link();
        // Quiet until the run switches the output on, so that every report it sends
        // is one the run must print.
        options.reportOutputOn = false;
        return options;
    }
    [[nodiscard]] std::string Link() const { return dir_.File("ttyPalo520G"); }

    // Quiets the sensor and waits until the run printed every report it sent:
    // `before` lines plus this sensor's reports. Returns this sensor's count.
    uint64_t SettleAndCount(CliProcess& run, size_t before) {
        sim_->SetSilent(true);
        uint64_t sent = sim_->Counters().reportFramesSent;
        for (;;) {
            EXPECT_TRUE(run.WaitForStdoutLines(static_cast<int>(before + sent), 20000))
                << "printed " << NonEmptyLines(run.Out()).size() << " of " << before + sent << "\n" << run.Err();
            const uint64_t now = sim_->Counters().reportFramesSent;
            if (now == sent) return sent;
            sent = now;  // a frame was on its way when the sensor fell quiet
        }
    }
};

TEST_F(CliReconnectTest, MonitorReconnectPrintsEveryReportAcrossTwoDrops) {
    ASSERT_TRUE(StartSim(LinkedOptions()));
    CliProcess run({"monitor", "--reconnect", "--port", Link()});
    size_t printed = 0;
    for (int half = 0; half < 3; ++half) {
        if (half > 0) {
            // The adapter is unplugged (the line hangs up and its link goes) and plugged back.
            sim_->HangUp();
            ASSERT_TRUE(WaitUntil([&] {
                (void)run.WaitForStderr("text that never comes", 20);  // takes in what it printed
                return Count(run.Err(), "was lost; waiting for it to come back") == static_cast<size_t>(half);
            })) << run.Err();
            ASSERT_TRUE(StartSim(LinkedOptions()));
        }
        ASSERT_TRUE(run.WaitForStdoutLines(static_cast<int>(printed + 5), 20000)) << run.Err();
        printed += SettleAndCount(run, printed);
    }
    run.Signal(SIGINT);
    const CliResult result = run.Wait(20000);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(NonEmptyLines(result.out).size(), printed);
    EXPECT_EQ(Count(result.err, "is back; the run goes on"), 2u) << result.err;
}

TEST_F(CliReconnectTest, WaitForPortWaitsForASensorPluggedInLater) {
    CliProcess run({"info", "--wait-for-port", "30", "--port", Link()});
    ASSERT_TRUE(run.WaitForStderr("Waiting up to 30 s for the port", 20000)) << run.Err();
    ASSERT_TRUE(StartSim(LinkedOptions()));
    const CliResult result = run.Wait(30000);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(Contains(result.out, "Firmware version: " + sim_->Version()));
}

TEST_F(CliReconnectTest, WaitForPortGivesUpWithTheOpenErrorCode) {
    const CliResult result = RunCli({"params", "read", "--wait-for-port", "1", "--port", Link()});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_TRUE(Contains(result.err, "did not appear within 1 s"));
}

}  // namespace
