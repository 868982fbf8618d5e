#pragma once
// A worker replaying record files written by the test, into a recording sink.
// Replay needs no sensor: the output switch goes to a port that is not open and is ignored.

#include <gtest/gtest.h>

#include <string>

#include "ReportStream.h"
#include "TestSink.h"
#include "support/TempDir.h"

class ReplayFixture : public ::testing::Test {
protected:
    ReplayFixture() : worker(&line, sink) {}
    ~ReplayFixture() override {
        worker.Stop();
    }

    // The content as a record file in the test's folder; its path.
    std::string WriteRecord(const std::string& name, const Bytes& content) {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteWholeFile(path, std::string(content.begin(), content.end())));
        return path;
    }

    void StartReplay(const Bytes& content, int intervalMs) {
        worker.lastReplayFile = WriteRecord("replay.dat", content);
        worker.replayInterval = intervalMs;
        worker.replayMode = 1;
        ASSERT_EQ(worker.Start(), ACQUISITION_STARTED);
    }

    TempDir dir;
    SensorLine line;  // never opened: a replay has no sensor
    RecordingSink sink;
    CAcquisitionWorker worker;
};
