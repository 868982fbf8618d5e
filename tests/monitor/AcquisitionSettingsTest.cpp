#include <gtest/gtest.h>

#include <string>

#include "app/XMLParser.h"
#include "common/FileUtils.h"
#include "monitor/AcquisitionWorker.h"
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

}  // namespace
