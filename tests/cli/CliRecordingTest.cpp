// Recordings that describe themselves: monitor --record writes the description
// beside the record, replay takes its parameters from it; replay's --from and --speed.
#include <signal.h>

#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "SimFixture.h"
#include "common/FileUtils.h"
#include "monitor/RecordSidecar.h"

namespace {

class CliRecordingTest : public CliSimTest {
protected:
    void SetUp() override { ASSERT_TRUE(StartSim()); }

    // Records count live reports into a new folder; the record's path.
    std::string Record(const std::string& name, int count, std::string* liveOut) {
        const std::string folder = dir_.File(name);
        const CliResult live = RunOnSim({"monitor", "--json", "--count", std::to_string(count), "--record", folder});
        EXPECT_EQ(live.exitCode, 0) << live.err;
        if (liveOut) *liveOut = WithoutReadTimes(live.out);
        const std::vector<std::string> files = GetLocalFolderFileList(folder, "dat");
        return files.size() == 1 ? folder + "/" + files[0] : std::string();
    }
};

TEST_F(CliRecordingTest, ReplayOfARecordingPrintsWhatTheLiveRunPrintedAtAnyReportFrequencies) {
    // Not the defaults, so that the estimate depends on what the recording says.
    ASSERT_EQ(RunOnSim({"params", "write", "--range-freq", "2", "--state-freq", "8", "--response", "fast"}).exitCode, 0);
    std::string live;
    const std::string record = Record("records", 40, &live);
    ASSERT_FALSE(record.empty());
    const std::vector<Json> liveReports = ParseJsonLines(live);
    ASSERT_EQ(liveReports.size(), 40u);

    RecordSidecar description;
    ASSERT_TRUE(ReadRecordSidecar(SidecarPathOf(record), description));
    EXPECT_EQ(description.params.RangeReportFreq, 2.0);
    EXPECT_EQ(description.params.StateReportFreq, 8.0);
    EXPECT_EQ(description.params.ResponseFreq, 1.0);
    EXPECT_EQ(description.port, Port());
    EXPECT_EQ(description.serialNumber, "P520G-SIM-0001");
    EXPECT_EQ(description.status, SIDECAR_COMPLETE);
    EXPECT_EQ(description.bytesWritten, std::filesystem::file_size(record));

    const CliResult replay = RunCli({"replay", "--json", "--count", "40", record});
    ASSERT_EQ(replay.exitCode, 0) << replay.err;
    EXPECT_EQ(replay.out, live) << "line by line, current_ma included";

    // Without the description the defaults give other currents; --config still decides over it.
    const std::string config = dir_.File("defaults.xml");
    ASSERT_TRUE(WriteWholeFile(config, "<AppConfig><ParamSetting ResponseFreq=\"0.5\" StateReportFreq=\"4.0\" "
                                       "RangeReportFreq=\"0.5\"/></AppConfig>"));
    const CliResult overridden = RunCli({"replay", "--json", "--count", "40", "--config", config, record});
    ASSERT_EQ(overridden.exitCode, 0) << overridden.err;
    std::filesystem::remove(SidecarPathOf(record));
    const CliResult undescribed = RunCli({"replay", "--json", "--count", "40", record});
    ASSERT_EQ(undescribed.exitCode, 0) << undescribed.err;
    EXPECT_NE(undescribed.out, live);
    EXPECT_EQ(overridden.out, undescribed.out);
}

TEST_F(CliRecordingTest, FromSkipsReportsAndSpeedZeroIgnoresTheInterval) {
    std::string live;
    const std::string record = Record("records", 10, &live);
    ASSERT_FALSE(record.empty());
    const std::vector<std::string> liveLines = NonEmptyLines(live);
    ASSERT_EQ(liveLines.size(), 10u);
    // An hour's pause per report at speed 1; at speed 0 none (the run's 30 s guard would fail otherwise).
    const CliResult replay =
        RunCli({"replay", "--json", "--from", "3", "--count", "7", "--interval", "3600000", "--speed", "0", record});
    ASSERT_EQ(replay.exitCode, 0) << replay.err;
    const std::vector<std::string> lines = NonEmptyLines(replay.out);
    ASSERT_EQ(lines.size(), 7u);
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], liveLines[i + 3]) << "report " << i + 3;
}

TEST_F(CliRecordingTest, AFolderThatCannotTakeTheRecordFailsBeforeTheRun) {
    ASSERT_TRUE(WriteWholeFile(dir_.File("plain"), "a file, not a folder"));
    const struct {
        const char* name;
        std::string folder;
        const char* why;
    } cases[] = {
        {"character device", "/dev/null", "Not a directory"},
        {"regular file", dir_.File("plain"), "Not a directory"},
        {"folder below a file", dir_.File("plain/sub"), ""},
        {"folder nobody may write into", "/proc/self", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult run = RunOnSim({"monitor", "--count", "5", "--record", c.folder});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(Contains(run.err, "Cannot record into the folder " + c.folder + ": " + c.why));
        EXPECT_EQ(run.err.find("Monitoring"), std::string::npos) << "the run never started";
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    // An empty name used to run without recording and without a word.
    const CliResult empty = RunOnSim({"monitor", "--count", "5", "--record", ""});
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_TRUE(Contains(empty.err, "--record needs a folder: an empty name would record nothing."));
    EXPECT_TRUE(empty.out.empty()) << empty.out;
}

TEST_F(CliRecordingTest, AFileSizeLimitStopsTheRecordingWithItsReasonAndTheDescriptionSaysSo) {
    // SIGXFSZ used to kill the run (exit 153) with the description still at "recording".
    VirtualSensorOptions options = FastOptions();
    options.streamTimeScale = 40.0;
    ASSERT_TRUE(StartSim(options));
    const std::string folder = dir_.File("limited");
    ASSERT_TRUE(RecursiveCreateDirectory(folder));
    // The child inherits the limit; this process writes nothing while it is set, and
    // leaves SIGXFSZ at its default so that the child does not inherit it ignored.
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    CliProcess monitor({"monitor", "--json", "--count", "150", "--port", Port(), "--record", folder});
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &previous), 0);
    const CliResult run = monitor.Wait(60000);

    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const std::vector<std::string> files = GetLocalFolderFileList(folder, "dat");
    ASSERT_EQ(files.size(), 1u);
    const std::string record = folder + "/" + files[0];
    EXPECT_TRUE(Contains(run.err, "Recording stopped: cannot write " + record + ": File too large"));
    EXPECT_EQ(NonEmptyLines(run.out).size(), 150u) << "the run goes on without recording";
    EXPECT_LE(std::filesystem::file_size(record), 4096u);
    RecordSidecar description;
    ASSERT_TRUE(ReadRecordSidecar(SidecarPathOf(record), description));
    EXPECT_EQ(description.status, SIDECAR_INCOMPLETE);
    EXPECT_EQ(description.error, "File too large");
    EXPECT_FALSE(description.endedNormally);
    EXPECT_EQ(description.bytesWritten, std::filesystem::file_size(record));
}

TEST_F(CliRecordingTest, AFullDiskStopsTheRecordingAtOnceAndTheRunFails) {
    const std::string folder = dir_.File("small");
    ASSERT_TRUE(RecursiveCreateDirectory(folder));
    if (geteuid() != 0 || mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=8k") != 0)
        GTEST_SKIP() << "needs root to mount a small file system";
    // A report every 6 ms: the 300 take about 2 s instead of 15.
    VirtualSensorOptions options = FastOptions();
    options.streamTimeScale = 40.0;
    ASSERT_TRUE(StartSim(options));
    const CliResult run = RunOnSim({"monitor", "--json", "--count", "300", "--record", folder}, 60000);
    umount2(folder.c_str(), MNT_DETACH);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.err, "Recording stopped: cannot write "));
    EXPECT_EQ(run.err.find("Recorded to"), std::string::npos) << run.err;
    EXPECT_EQ(NonEmptyLines(run.out).size(), 300u) << "the run goes on without recording";
}

TEST_F(CliRecordingTest, AFolderRemovedOrMovedDuringTheRunFailsTheRunAndSaysTheRecordingIsGone) {
    const struct {
        const char* name;
        void (*takeAway)(const std::string& folder);
        const char* why;
    } cases[] = {
        {"removed", [](const std::string& folder) { std::filesystem::remove_all(folder); },
         "the file was removed during the run, and what was recorded is lost"},
        {"moved", [](const std::string& folder) { std::filesystem::rename(folder, folder + "-moved"); },
         "the file was moved or replaced during the run, so the recording stopped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir_.File(std::string("going-") + c.name);
        CliProcess monitor({"monitor", "--json", "--port", Port(), "--record", folder});
        ASSERT_TRUE(monitor.WaitForStdoutLines(3, 10000)) << monitor.Out();
        const std::vector<std::string> files = GetLocalFolderFileList(folder, "dat");
        ASSERT_EQ(files.size(), 1u);
        const std::string record = folder + "/" + files[0];
        c.takeAway(folder);
        // Reports go on arriving while the run notices.
        ASSERT_TRUE(monitor.WaitForStdoutLines(40, 10000)) << monitor.Out();
        monitor.Signal(SIGINT);
        const CliResult result = monitor.Wait(10000);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_TRUE(Contains(result.err, "Recording stopped: cannot write " + record + ": " + c.why));
        EXPECT_EQ(result.err.find("Recorded to"), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(record));
    }
}

}  // namespace
