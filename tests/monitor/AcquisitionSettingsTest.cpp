#include <gtest/gtest.h>

#include <string>

#include "ReportStream.h"
#include "TestSink.h"
#include "app/XMLParser.h"
#include "common/FileUtils.h"
#include "common/Utf8Text.h"
#include "monitor/AcquisitionWorker.h"
#include "monitor/RecordSidecar.h"
#include "support/TempDir.h"

namespace {

class AcquisitionSettings : public ::testing::Test {
protected:
    AcquisitionSettings() : worker(nullptr, sink) { SetProgramPathOverride(data.Path()); }
    ~AcquisitionSettings() override { SetProgramPathOverride(""); }

    XMLNode Parse(const std::string& xml) {
        doc.LoadBuffer(xml.data(), xml.size());
        return doc.FindElement("AppConfig");
    }

    struct NullSink : IAcquisitionSink {
        void OnNewReport(const TargetReport&) override {}
        void OnReplayEnd() override {}
        void OnDeviceLost() override {}
    } sink;
    TempDir data;
    TempDir elsewhere;
    XMLParser doc;
    CAcquisitionWorker worker;
};

TEST_F(AcquisitionSettings, DefaultsLieUnderTheDataFolder) {
    worker.replayInterval = 7;
    worker.saveData = 1;
    LoadAcquisitionSettings(Parse("<AppConfig/>"), worker);
    EXPECT_EQ(worker.saveDataPath, data.Path() + "/SaveData");
    EXPECT_EQ(worker.lastReplayFile, data.Path() + "/SaveData/RadarData.dat");
    EXPECT_EQ(worker.replayInterval, 500);
    EXPECT_EQ(worker.saveData, 0);
}

TEST_F(AcquisitionSettings, RelativeAndAbsolutePathsReadBackAbsoluteAndSaveRelativeInsideTheDataFolder) {
    const std::string outside = elsewhere.File("old.dat");
    XMLNode node = Parse("<AppConfig ReplayInterval=\"250\" savedata=\"1\" SaveDataPath=\"Rec/Run\" LastReplayFile=\"" +
                         outside + "\"/>");
    LoadAcquisitionSettings(node, worker);
    EXPECT_EQ(worker.replayInterval, 250);
    EXPECT_EQ(worker.saveData, 1);
    EXPECT_EQ(worker.saveDataPath, data.Path() + "/Rec/Run");
    EXPECT_EQ(worker.lastReplayFile, outside);

    worker.saveDataPath = data.Path() + "/Other";
    worker.replayInterval = -3;
    SaveAcquisitionSettings(node, worker);
    EXPECT_EQ(node.GetAttributeText("SaveDataPath"), "Other");
    EXPECT_EQ(node.GetAttributeText("LastReplayFile"), outside);
    EXPECT_EQ(node.GetAttributeText("ReplayInterval"), "-3");
    EXPECT_EQ(node.GetAttributeText("SaveData"), "1");
}

// Paths longer than any old limit (259 characters), built of characters of two, three
// and four bytes (the last a UTF-16 surrogate pair), so that a cut by bytes, by UTF-16
// units or by characters would each show. A folder name stays under the system's 255
// bytes; the whole path is as long as the system allows.
struct LongPathCase {
    const char* name;
    const char* folderName;  // repeated as nested folders
    int depth;
};

void PrintTo(const LongPathCase& c, std::ostream* out) { *out << c.name; }

class LongPaths : public AcquisitionSettings, public ::testing::WithParamInterface<LongPathCase> {
protected:
    std::string Nested(const std::string& base) const {
        std::string path = base;
        for (int i = 0; i < GetParam().depth; ++i) path += "/" + std::string(GetParam().folderName) + std::to_string(i);
        return path;
    }
};

TEST_P(LongPaths, RoundTripThroughTheConfigurationAndReplayWhole) {
    const std::string relativeFolder = Nested("Rec");
    const std::string replayFile = Nested(elsewhere.Path()) + "/RadarData_雷达📡.dat";
    ASSERT_GT(Utf8CharacterCount(relativeFolder), 300u);
    ASSERT_GT(Utf8CharacterCount(replayFile), 300u);

    // Read from a configuration text, saved back, and read again from the saved text.
    LoadAcquisitionSettings(Parse("<AppConfig SaveDataPath=\"" + relativeFolder + "\" LastReplayFile=\"" + replayFile +
                                  "\"/>"),
                            worker);
    EXPECT_EQ(worker.saveDataPath, data.Path() + "/" + relativeFolder);
    EXPECT_EQ(worker.lastReplayFile, replayFile);
    XMLParser saved;
    XMLNode node = saved.Document().GetOrAddChild("AppConfig");
    SaveAcquisitionSettings(node, worker);
    EXPECT_EQ(node.GetAttributeText("SaveDataPath"), relativeFolder);
    EXPECT_EQ(node.GetAttributeText("LastReplayFile"), replayFile);
    CAcquisitionWorker reread(nullptr, sink);
    LoadAcquisitionSettings(Parse(saved.SaveToString()), reread);
    EXPECT_EQ(reread.saveDataPath, worker.saveDataPath);
    EXPECT_EQ(reread.lastReplayFile, replayFile);

    // A record at that path with its description: both are found and read whole.
    ASSERT_TRUE(RecursiveCreateDirectory(Nested(elsewhere.Path())));
    const Bytes frames = Join({ReportFrame(2, 150), ReportFrame(3, 275)});
    ASSERT_TRUE(WriteWholeFile(replayFile, std::string(frames.begin(), frames.end())));
    RecordSidecar description;
    description.port = replayFile;  // any long text field will do
    ASSERT_TRUE(WriteRecordSidecar(SidecarPathOf(replayFile), description));
    RecordSidecar readBack;
    ASSERT_TRUE(ReadRecordSidecar(SidecarPathOf(reread.lastReplayFile), readBack));
    EXPECT_EQ(readBack.port, replayFile);

    RecordingSink replaySink;
    CAcquisitionWorker replay(nullptr, replaySink);
    replay.lastReplayFile = reread.lastReplayFile;
    replay.replayInterval = 0;
    replay.replayMode = 1;
    ASSERT_EQ(replay.Start(), ACQUISITION_STARTED);
    ASSERT_TRUE(replaySink.WaitFor([](const auto& r) { return r.replayEnds > 0; }));
    replay.Stop();
    const std::vector<TargetReport> reports = replaySink.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].distanceCm, 275);
}

INSTANTIATE_TEST_SUITE_P(Utf8, LongPaths,
                         ::testing::Values(LongPathCase{"TwoByteCharacters", "Données_élevées_à_côté_", 14},
                                           LongPathCase{"ThreeByteCharacters", "雷达存储数据的文件夹", 30},
                                           LongPathCase{"FourByteCharacters", "📡📡📡信号🛰️", 40}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
