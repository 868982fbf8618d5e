// The virtual sensor's behaviour on a simulated clock: no terminal, no threads.

#include <sys/stat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "device/CommandFraming.h"
#include "sim/SensorModel.h"
#include "sim/WireFormat.h"
#include "support/TempDir.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Frame {
    bool isAck = false;
    uint16_t word = 0;  // acks
    Bytes payload;      // after the word for acks; whole payload for reports
};

class ModelDriver {
public:
    explicit ModelDriver(VirtualSensorOptions options = {}, std::unique_ptr<ReportScenario> scenario = nullptr)
        : model(options, std::move(scenario))
    {
    }

    void Send(uint16_t word, const Bytes& payload = {})
    {
        const Bytes frame = BuildCommandFrame(word, payload.data(), payload.size());
        model.Receive(frame.data(), frame.size(), now);
        model.Tick(now);
        Drain();
    }
    // Takes what the model sent, as the terminal thread would.
    void Drain() { model.TakeOutput(model.Output().size(), sent); }
    // Advances the clock in 1 ms steps, collecting everything sent.
    void Run(double ms)
    {
        const double end = now + ms;
        while (now < end) {
            model.Tick(now);
            Drain();
            now += 1.0;
        }
        model.Tick(now);
        Drain();
    }
    // Parses and removes the output sent so far.
    std::vector<Frame> Take()
    {
        Drain();
        const Bytes bytes = std::move(sent);
        sent.clear();
        std::vector<Frame> frames;
        size_t i = 0;
        while (i + 10 <= bytes.size()) {
            const bool ack = std::equal(bytes.begin() + i, bytes.begin() + i + 4, COMMAND_FRAME_HEADER);
            const bool report = std::equal(bytes.begin() + i, bytes.begin() + i + 4, REPORT_FRAME_HEADER);
            if (!ack && !report) {
                ++i;
                continue;
            }
            const size_t length = bytes[i + 4] | (bytes[i + 5] << 8);
            Frame frame;
            frame.isAck = ack;
            if (ack) {
                frame.word = static_cast<uint16_t>(bytes[i + 6] | (bytes[i + 7] << 8));
                frame.payload.assign(bytes.begin() + i + 8, bytes.begin() + i + 6 + length);
            } else {
                frame.payload.assign(bytes.begin() + i + 6, bytes.begin() + i + 6 + length);
            }
            frames.push_back(frame);
            i += length + 10;
        }
        return frames;
    }
    Frame Reply(uint16_t word, const Bytes& payload = {})
    {
        Send(word, payload);
        for (const Frame& f : Take()) {
            if (f.isAck && f.word == (word | 0x0100)) {
                return f;
            }
        }
        return {};
    }
    static uint16_t Status(const Frame& f) { return f.payload.size() >= 2 ? f.payload[0] | (f.payload[1] << 8) : 0xFFFF; }
    static uint32_t Value(const Frame& f)
    {
        return f.payload.size() >= 6 ? f.payload[2] | (f.payload[3] << 8) | (f.payload[4] << 16) | (f.payload[5] << 24)
                                     : 0xFFFFFFFF;
    }

    SensorModel model;
    Bytes sent;
    double now = 1000.0;
};

Bytes U16(std::initializer_list<uint16_t> values)
{
    Bytes out;
    for (uint16_t v : values) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    }
    return out;
}

Bytes KeyValues(std::initializer_list<std::pair<uint16_t, uint32_t>> pairs)
{
    Bytes out;
    for (const auto& [key, value] : pairs) {
        out.push_back(static_cast<uint8_t>(key));
        out.push_back(static_cast<uint8_t>(key >> 8));
        for (int shift = 0; shift < 32; shift += 8) {
            out.push_back(static_cast<uint8_t>(value >> shift));
        }
    }
    return out;
}

std::vector<Frame> Reports(const std::vector<Frame>& frames)
{
    std::vector<Frame> reports;
    for (const Frame& f : frames) {
        if (!f.isAck && f.payload.size() == 70) {
            reports.push_back(f);
        }
    }
    return reports;
}

std::vector<int> Progress(const std::vector<Frame>& frames)
{
    std::vector<int> values;
    for (const Frame& f : frames) {
        if (!f.isAck && f.payload.size() == 3 && f.payload[0] == 3) {
            values.push_back(f.payload[1] | (f.payload[2] << 8));
        }
    }
    return values;
}

double GateDb(const Frame& report, int gate)
{
    const int raw = report.payload[6 + 4 * gate] | (report.payload[7 + 4 * gate] << 8);
    return raw > 100 ? 20.0 * std::log10(raw / 100) : 0.0;
}

TEST(SensorModel, AnswersOnlyInCommandModeAndStreamsOnlyOutsideIt)
{
    ModelDriver d;
    d.Run(10);
    EXPECT_FALSE(Reports(d.Take()).empty()) << "a fresh sensor streams";
    d.Send(0x0000);
    EXPECT_TRUE(std::none_of(d.Take().begin(), d.Take().end(), [](const Frame& f) { return f.isAck; }));

    const Frame entered = d.Reply(0x00FF, U16({2}));
    EXPECT_EQ(entered.payload, U16({0, 2, 256}));
    d.Run(2000);
    EXPECT_TRUE(Reports(d.Take()).empty()) << "no reports in command mode";
    const Frame version = d.Reply(0x0000);
    EXPECT_EQ(version.payload, (Bytes{0, 0, 6, 0, 'v', '1', '.', '0', '.', '2'}));
    EXPECT_EQ(ModelDriver::Status(d.Reply(0x1234)), SIM_STATUS_UNKNOWN_COMMAND);

    EXPECT_EQ(ModelDriver::Status(d.Reply(0x00FE)), 0);
    d.Run(1000);
    EXPECT_FALSE(Reports(d.Take()).empty());
}

TEST(SensorModel, ReportsFollowTheStateReportFrequency)
{
    struct Case {
        uint32_t tenthsHz;
        size_t reportsPerTenSeconds;
    };
    for (const Case c : {Case{5, 5}, Case{40, 40}, Case{80, 80}}) {
        ModelDriver d;
        d.Reply(0x00FF, U16({2}));
        ASSERT_EQ(ModelDriver::Status(d.Reply(112, KeyValues({{2, c.tenthsHz}}))), 0);
        d.Send(0x00FE);  // the stream starts at once
        d.Run(9999);
        EXPECT_EQ(Reports(d.Take()).size(), c.reportsPerTenSeconds) << c.tenthsHz;
    }
}

TEST(SensorModel, OutputSwitchAndItsReadBack)
{
    ModelDriver d;
    d.Reply(0x00FF, U16({2}));
    ASSERT_EQ(ModelDriver::Status(d.Reply(0x7A, KeyValues({{0, 0}}))), 0);
    EXPECT_EQ(d.Reply(0x7A, U16({0})).payload, (Bytes{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ModelDriver::Status(d.Reply(0x7A, KeyValues({{1, 1}}))), SIM_STATUS_BAD_KEY);
    d.Reply(0x00FE);
    d.Run(3000);
    EXPECT_TRUE(Reports(d.Take()).empty());
}

// The built-in scene: nobody, a person walking in, standing still at 2.5 m, and leaving.
TEST(SensorModel, BuiltInSceneIsConsistentWithTheDefaultThresholds)
{
    VirtualSensorOptions options;
    options.streamTimeScale = 1.0;
    ModelDriver d(options);
    d.Run(BuiltInScenario::CYCLE_SECONDS * 1000.0);
    const std::vector<Frame> reports = Reports(d.Take());
    ASSERT_GE(reports.size(), 150u);
    const GateTable trigger = d.model.TableByWriteId(114);
    const GateTable hold = d.model.TableByWriteId(118);
    std::set<int> states;
    for (const Frame& r : reports) {
        const int state = r.payload[1];
        const int distance = r.payload[2] | (r.payload[3] << 8);
        states.insert(state);
        if (state == 0) {
            EXPECT_EQ(distance, 0);
            continue;
        }
        ASSERT_TRUE(state == 2 || state == 3) << state;
        ASSERT_GT(distance, 0);
        ASSERT_LE(distance, 840 + 70);
        const int gate = static_cast<int>(distance / 70);
        if (state == 3) {
            EXPECT_NEAR(distance, 250, 10);
            EXPECT_GT(GateDb(r, gate), hold[gate]) << "a still person keeps presence";
        }
    }
    EXPECT_EQ(states, (std::set<int>{0, 2, 3}));
    // Empty room at the start: every gate below its hold threshold.
    for (int g = 0; g < 16; ++g) {
        EXPECT_LT(GateDb(reports.front(), g), hold[g]) << "gate " << g;
        EXPECT_LT(GateDb(reports.front(), g), trigger[g]) << "gate " << g;
    }
}

TEST(SensorModel, TargetOutsideTheDetectionRangeIsNotReported)
{
    ModelDriver d;
    d.Reply(0x00FF, U16({2}));
    ASSERT_EQ(ModelDriver::Status(d.Reply(112, KeyValues({{10, 0}, {5, 2}}))), 0);  // up to gate 2 (2.1 m)
    d.Reply(0x00FE);
    d.Take();
    d.Run(BuiltInScenario::CYCLE_SECONDS * 1000.0);
    for (const Frame& r : Reports(d.Take())) {
        const int distance = r.payload[2] | (r.payload[3] << 8);
        EXPECT_LT(distance, 3 * 70) << "state " << int(r.payload[1]);
        EXPECT_NE(r.payload[1], 3) << "the person stands in gate 3";
    }
}

TEST(SensorModel, DistanceIsRefreshedAtTheRangeReportFrequency)
{
    ModelDriver d;
    d.Reply(0x00FF, U16({2}));
    ASSERT_EQ(ModelDriver::Status(d.Reply(112, KeyValues({{2, 80}, {12, 5}}))), 0);  // 8 Hz state, 0.5 Hz range
    d.Reply(0x00FE);
    d.Run(8500 - (d.now - 1000));  // into the walk-in
    d.Take();
    d.Run(4000);
    std::set<int> distances;
    size_t moving = 0;
    for (const Frame& r : Reports(d.Take())) {
        if (r.payload[1] == 2) {
            ++moving;
            distances.insert(r.payload[2] | (r.payload[3] << 8));
        }
    }
    EXPECT_GE(moving, 25u);
    EXPECT_LE(distances.size(), 3u) << "4 s at 0.5 Hz";
    EXPECT_GE(distances.size(), 2u) << "the person walks";
}

TEST(SensorModel, ThresholdGenerationReportsProgressThenHoldsNewTables)
{
    VirtualSensorOptions options;
    options.timeScale = 10.0;
    ModelDriver d(options);
    d.Reply(0x00FF, U16({2}));
    ASSERT_EQ(ModelDriver::Status(d.Reply(9, U16({3, 1, 120}))), 0);
    EXPECT_TRUE(d.model.Generating());
    d.Run(2000);
    EXPECT_TRUE(Progress(d.Take()).empty()) << "progress waits while in command mode";
    d.Reply(0x00FE);
    d.Run(12000);
    const std::vector<Frame> frames = d.Take();
    const std::vector<int> progress = Progress(frames);
    ASSERT_GE(progress.size(), 50u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(std::count(progress.begin(), progress.end(), 100), 1);
    EXPECT_FALSE(d.model.Generating());
    EXPECT_EQ(d.model.TableByWriteId(114), SensorModel::GeneratedTrigger(3));
    EXPECT_EQ(d.model.TableByWriteId(118), SensorModel::GeneratedHold(1));
    EXPECT_NE(SensorModel::GeneratedTrigger(3), SensorModel::GeneratedTrigger(0));
    // Reports come back once the scan is over.
    d.Run(1000);
    EXPECT_FALSE(Reports(d.Take()).empty());

    d.Reply(0x00FF, U16({2}));
    EXPECT_EQ(ModelDriver::Status(d.Reply(9, U16({3, 1}))), SIM_STATUS_BAD_PAYLOAD);
    EXPECT_EQ(ModelDriver::Status(d.Reply(9, U16({3, 1, 0}))), SIM_STATUS_BAD_PAYLOAD);
}

TEST(SensorModel, SoftwareResetGoesQuietThenTheBootloaderAnswers)
{
    VirtualSensorOptions options;
    options.resetDelayMs = 500;
    ModelDriver d(options);
    d.Reply(0x00FF, U16({2}));
    d.Send(0x64);
    EXPECT_TRUE(d.Take().empty()) << "no reply to a reset";
    d.Run(100);
    d.Send(0x60);
    EXPECT_TRUE(d.Take().empty()) << "still resetting";
    d.Run(500);
    const Frame mode = d.Reply(0x60);
    EXPECT_EQ(ModelDriver::Status(mode), 0);
    EXPECT_EQ(ModelDriver::Value(mode), 1u);
    d.Run(2000);
    EXPECT_TRUE(Reports(d.Take()).empty()) << "the bootloader does not stream";
    EXPECT_EQ(d.model.Version(), "");
    EXPECT_EQ(ModelDriver::Status(d.Reply(0x0000)), SIM_STATUS_UNKNOWN_COMMAND);
}

TEST(SensorModel, StrayHeadersInNoiseNeverHoldBackACompleteCommand)
{
    const Bytes stray = {0xFD, 0xFC, 0xFB, 0xFA, 0xFF, 0x0F};  // announces 4095 bytes that never come
    const Bytes huge = {0xFD, 0xFC, 0xFB, 0xFA, 0xFF, 0xFF};   // more than any command
    for (const Bytes& header : {stray, huge}) {
        ModelDriver d;
        Bytes input;
        for (int i = 0; i < 10; ++i) {
            input.insert(input.end(), header.begin(), header.end());
            input.insert(input.end(), {0x11, 0x22, 0x33});
        }
        const Bytes command = BuildCommandFrame(0x00FF, U16({2}).data(), 2);
        input.insert(input.end(), command.begin(), command.end());
        // All at one instant: the answer must not wait for the announced frames.
        d.model.Receive(input.data(), input.size(), d.now);
        d.model.Tick(d.now);
        std::vector<Frame> acks = d.Take();
        acks.erase(std::remove_if(acks.begin(), acks.end(), [](const Frame& f) { return !f.isAck; }), acks.end());
        ASSERT_EQ(acks.size(), 1u) << "header " << int(header[5]);
        EXPECT_EQ(acks[0].word, 0x01FF);
    }
}

TEST(SensorModel, BootloaderPacketsUpToTheConfiguredSizeAreHeard)
{
    for (const uint16_t size : {uint16_t{256}, uint16_t{6000}, uint16_t{65533}}) {
        VirtualSensorOptions options;
        options.maxPacketSize = size;
        options.resetDelayMs = 0;
        ModelDriver d(options);
        d.Reply(0x00FF, U16({2}));
        d.Send(0x64);  // into the bootloader
        d.Run(1);
        d.Take();
        // No download is under way, so the packet is refused, but it is heard and answered.
        const Frame answer = d.Reply(0x63, Bytes(size, 0x5A));
        EXPECT_EQ(answer.word, 0x0163) << size;
    }
}

TEST(SensorModel, PacketsOutOfSequenceOrWithBadSumsAreRefused)
{
    VirtualSensorOptions options;
    options.resetDelayMs = 0;
    ModelDriver d(options);
    d.Reply(0x00FF, U16({2}));
    d.Send(0x64);
    d.Run(1);
    Bytes info = KeyValues({});
    for (uint32_t v : {1u, 8u, 8u * 0x11}) {
        for (int shift = 0; shift < 32; shift += 8) {
            info.push_back(static_cast<uint8_t>(v >> shift));
        }
    }
    const Frame announced = d.Reply(0x62, info);
    ASSERT_EQ(ModelDriver::Status(announced), 0);
    EXPECT_EQ(ModelDriver::Value(announced), 256u);

    auto packet = [](uint32_t serial, uint32_t sum, const Bytes& data) {
        Bytes p;
        for (uint32_t v : {serial, sum}) {
            for (int shift = 0; shift < 32; shift += 8) {
                p.push_back(static_cast<uint8_t>(v >> shift));
            }
        }
        p.insert(p.end(), data.begin(), data.end());
        return p;
    };
    const Frame wrongSerial = d.Reply(0x63, packet(1, 0x44, Bytes(4, 0x11)));
    EXPECT_EQ(ModelDriver::Status(wrongSerial), SIM_STATUS_SEQUENCE);
    EXPECT_EQ(ModelDriver::Value(wrongSerial), 0u) << "the serial number expected";
    EXPECT_EQ(ModelDriver::Status(d.Reply(0x63, packet(0, 0x45, Bytes(4, 0x11)))), SIM_STATUS_CHECKSUM);
    EXPECT_EQ(ModelDriver::Status(d.Reply(0x63, packet(0, 0x44, Bytes(4, 0x11)))), 0);
    EXPECT_EQ(ModelDriver::Status(d.Reply(0x63, packet(1, 0x44, Bytes(4, 0x11)))), 0);
    // Complete, checksum right, but no image header: flashed and not started.
    EXPECT_EQ(d.model.FlashPartition(0), Bytes(8, 0x11));
    d.Run(100);
    EXPECT_EQ(d.model.RunningMode(), static_cast<uint32_t>(SIM_MODE_BOOTLOADER));
}

TEST(SensorModel, LostRepliesFollowTheSeed)
{
    auto pattern = [](uint32_t seed) {
        VirtualSensorOptions options;
        options.lostAckRate = 0.3;
        options.seed = seed;
        options.requireCmdMode = false;
        ModelDriver d(options);
        std::vector<bool> answered;
        for (int i = 0; i < 60; ++i) {
            answered.push_back(d.Reply(0x60).isAck);
        }
        return answered;
    };
    const std::vector<bool> first = pattern(11);
    EXPECT_EQ(first, pattern(11));
    EXPECT_NE(first, pattern(12));
    const auto lost = std::count(first.begin(), first.end(), false);
    EXPECT_GT(lost, 5);
    EXPECT_LT(lost, 35);
}

TEST(SensorModel, RecordingIsStreamedFrameByFrameInALoop)
{
    TempDir dir;
    Bytes file = {0x01, 0x02};  // a partial frame at the start, as a recording may have
    std::vector<uint8_t> states = {0, 2, 3};
    for (uint8_t state : states) {
        const ReportPayload payload = MakeReportPayload(state, state * 100, {});
        file.insert(file.end(), {0xF4, 0xF3, 0xF2, 0xF1, 70, 0});
        file.insert(file.end(), payload.begin(), payload.end());
        file.insert(file.end(), {0xF8, 0xF7, 0xF6, 0xF5});
        file.insert(file.end(), {0xF4, 0xF3, 0xF2, 0xF1, 3, 0, 3, 50, 0, 0xF8, 0xF7, 0xF6, 0xF5});  // not a report
    }
    ASSERT_TRUE(WriteWholeFile(dir.File("rec.dat"), std::string(file.begin(), file.end())));

    auto recording = std::make_unique<RecordedScenario>();
    std::string error;
    ASSERT_TRUE(recording->Load(dir.File("rec.dat"), error)) << error;
    EXPECT_EQ(recording->FrameCount(), 3u);
    ModelDriver d({}, std::move(recording));
    d.Run(1999);  // 4 Hz: 8 reports
    const std::vector<Frame> reports = Reports(d.Take());
    ASSERT_EQ(reports.size(), 8u);
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].payload[1], states[i % 3]) << i;
        EXPECT_EQ(reports[i].payload[2] | (reports[i].payload[3] << 8), states[i % 3] * 100)
            << "distances kept as recorded";
    }

    RecordedScenario empty;
    ASSERT_TRUE(WriteWholeFile(dir.File("empty.dat"), "no frames here"));
    EXPECT_FALSE(empty.Load(dir.File("empty.dat"), error));
    EXPECT_FALSE(error.empty());

    // A device or a FIFO is refused at once, not read without end or waited on.
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    for (const std::string& path : {std::string("/dev/zero"), dir.File("fifo")}) {
        RecordedScenario stream;
        error.clear();
        EXPECT_FALSE(stream.Load(path, error)) << path;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    }
}

// ---- the wire, byte for byte --------------------------------------------------

// Bytes written as docs/protocol.md writes them: "FD FC 04 ...".
Bytes Hex(const std::string& text)
{
    Bytes bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 3) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The exchanges of docs/protocol.md in their order there, fed to the model as raw
// bytes: the simulator's framing is held to the document, not to the tool's code.
TEST(SensorModel, AnswersTheDocumentedExchangesByteForByte)
{
    struct Exchange {
        const char* what;
        const char* request;
        const char* reply;  // empty: no reply
    } const exchanges[] = {
        {"enter command mode", "FD FC FB FA 04 00 FF 00 02 00 04 03 02 01",
         "FD FC FB FA 08 00 FF 01 00 00 02 00 00 01 04 03 02 01"},
        {"firmware version", "FD FC FB FA 02 00 00 00 04 03 02 01",
         "FD FC FB FA 0C 00 00 01 00 00 06 00 76 31 2E 30 2E 32 04 03 02 01"},
        {"serial number", "FD FC FB FA 02 00 11 00 04 03 02 01",
         "FD FC FB FA 14 00 11 01 00 00 0E 00 50 35 32 30 47 2D 53 49 4D 2D 30 30 30 31 04 03 02 01"},
        {"write the default detection setting",
         "FD FC FB FA 26 00 70 00 0A 00 00 00 00 00 05 00 0C 00 00 00 0B 00 05 00 00 00 "
         "02 00 28 00 00 00 0C 00 05 00 00 00 06 00 28 00 00 00 04 03 02 01",
         "FD FC FB FA 04 00 70 01 00 00 04 03 02 01"},
        {"read two keys of the detection setting", "FD FC FB FA 06 00 71 00 0A 00 05 00 04 03 02 01",
         "FD FC FB FA 0C 00 71 01 00 00 00 00 00 00 0C 00 00 00 04 03 02 01"},
        {"read the trigger table",
         "FD FC FB FA 22 00 73 00 00 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 "
         "09 00 0A 00 0B 00 0C 00 0D 00 0E 00 0F 00 04 03 02 01",
         "FD FC FB FA 44 00 73 01 00 00 30 00 00 00 2A 00 00 00 24 00 00 00 22 00 00 00 "
         "20 00 00 00 1F 00 00 00 1F 00 00 00 1F 00 00 00 1F 00 00 00 1F 00 00 00 1F 00 "
         "00 00 1F 00 00 00 1F 00 00 00 1F 00 00 00 1F 00 00 00 1F 00 00 00 04 03 02 01"},
        {"switch the report output on", "FD FC FB FA 08 00 7A 00 00 00 01 00 00 00 04 03 02 01",
         "FD FC FB FA 04 00 7A 01 00 00 04 03 02 01"},
        {"threshold generation", "FD FC FB FA 08 00 09 00 02 00 01 00 78 00 04 03 02 01",
         "FD FC FB FA 04 00 09 01 00 00 04 03 02 01"},
        {"running mode", "FD FC FB FA 02 00 60 00 04 03 02 01",
         "FD FC FB FA 08 00 60 01 00 00 02 00 00 00 04 03 02 01"},
        {"partitions", "FD FC FB FA 02 00 61 00 04 03 02 01",
         "FD FC FB FA 08 00 61 01 00 00 03 00 00 00 04 03 02 01"},
        {"device id", "FD FC FB FA 02 00 65 00 04 03 02 01",
         "FD FC FB FA 08 00 65 01 00 00 01 00 0C 52 04 03 02 01"},
        {"leave command mode", "FD FC FB FA 02 00 FE 00 04 03 02 01",
         "FD FC FB FA 04 00 FE 01 00 00 04 03 02 01"},
        {"enter command mode again", "FD FC FB FA 04 00 FF 00 02 00 04 03 02 01",
         "FD FC FB FA 08 00 FF 01 00 00 02 00 00 01 04 03 02 01"},
        {"software reset", "FD FC FB FA 02 00 64 00 04 03 02 01", ""},
        {"the bootloader's running mode", "FD FC FB FA 02 00 60 00 04 03 02 01",
         "FD FC FB FA 08 00 60 01 00 00 01 00 00 00 04 03 02 01"},
        {"announce the image \"abc\" for partition 1",
         "FD FC FB FA 0E 00 62 00 02 00 00 00 03 00 00 00 25 02 00 00 04 03 02 01",
         "FD FC FB FA 08 00 62 01 00 00 00 01 00 00 04 03 02 01"},
        {"packet 0", "FD FC FB FA 0E 00 63 00 00 00 00 00 25 02 00 00 61 62 63 FF 04 03 02 01",
         "FD FC FB FA 08 00 63 01 00 00 00 00 00 00 04 03 02 01"},
    };
    VirtualSensorOptions options;
    options.reportOutputOn = false;  // nothing but replies on the line
    SensorModel model(options, nullptr);
    double now = 1000.0;
    for (const Exchange& e : exchanges) {
        const Bytes request = Hex(e.request);
        model.Receive(request.data(), request.size(), now);
        Bytes reply;
        model.TakeOutput(model.Output().size(), reply);
        EXPECT_EQ(reply, Hex(e.reply)) << e.what;
        now += options.resetDelayMs + 1.0;  // past a reset's quiet time
        model.Tick(now);
        model.DropOutput();  // progress frames of the generation
    }
    EXPECT_EQ(model.FlashPartition(1), (Bytes{'a', 'b', 'c'}));
}

TEST(SensorModel, ReportAndProgressFramesAreTheDocumentedOnes)
{
    std::array<uint16_t, GATE_COUNT> raw{};
    raw.fill(300);
    raw[3] = 1000;
    const ReportPayload report = MakeReportPayload(2, 250, raw);
    EXPECT_EQ(SimReportFrame(report.data(), report.size()),
              Hex("F4 F3 F2 F1 46 00 01 02 FA 00 00 00 2C 01 00 00 2C 01 00 00 2C 01 00 00 E8 03 "
                  "00 00 2C 01 00 00 2C 01 00 00 2C 01 00 00 2C 01 00 00 2C 01 00 00 2C 01 00 00 "
                  "2C 01 00 00 2C 01 00 00 2C 01 00 00 2C 01 00 00 2C 01 00 00 2C 01 00 00 "
                  "F8 F7 F6 F5"));
    const uint8_t progress[3] = {3, 40, 0};
    EXPECT_EQ(SimReportFrame(progress, sizeof(progress)), Hex("F4 F3 F2 F1 03 00 03 28 00 F8 F7 F6 F5"));
}

}  // namespace
