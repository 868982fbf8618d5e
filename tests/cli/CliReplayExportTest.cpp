// replay's output formats and the stats command, on committed record files.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "CliRunner.h"
#include "JsonOutput.h"
#include "SimFixture.h"
#include "monitor/CurrentEstimate.h"
#include "monitor/FrameScanner.h"
#include "params/ParamSetting.h"

namespace {

const std::string DATA = std::string(PALO_SOURCE_DIR) + "/tests/data/";

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
    return hash;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + part.size())) ++count;
    return count;
}

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> cells(1);
    for (char c : line) {
        if (c == separator) cells.emplace_back();
        else cells.back() += c;
    }
    return cells;
}

// A JSON report line without the members added since those digests were taken
// ("format" and "state_name"), each line checked to hold them where they belong.
std::string WithoutAddedMembers(const std::string& out) {
    std::string kept;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(start, end - start);
        start = end + 1;
        const std::string format = "{\"format\":1,";
        if (line.rfind(format, 0) == 0) line = "{" + line.substr(format.size());
        const size_t name = line.find(",\"state_name\":\"");
        if (name != std::string::npos) line.erase(name, line.find('"', name + 15) + 1 - name);
        kept += line + "\n";
    }
    return kept;
}

TEST(CliReplayOutput, TwentyThousandFramesPrintExactlyWhatTheyAlwaysPrinted) {
    // Digests of the output the tool printed before its output was made faster.
    struct Case {
        std::vector<std::string> args;
        uint64_t digest;
    } cases[] = {
        {{"replay", "--json", DATA + "RadarData_20000.dat"}, 0xfd5adfce1ff0c48dull},
        {{"replay", "--format", "jsonl", DATA + "RadarData_20000.dat"}, 0xfd5adfce1ff0c48dull},
        {{"replay", DATA + "RadarData_20000.dat"}, 0x065cc2fde343703eull},
    };
    for (const Case& c : cases) {
        const CliResult result = RunCli(c.args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(NonEmptyLines(result.out).size(), 20000u);
        const bool json = c.args[1] != DATA + "RadarData_20000.dat";
        if (json) {
            EXPECT_EQ(result.out.rfind("{\"format\":1,\"state\":", 0), 0u);
            EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'),
                      static_cast<long>(Count(result.out, ",\"state_name\":\"")));
        }
        EXPECT_EQ(Fnv1a(json ? WithoutAddedMembers(result.out) : result.out), c.digest) << c.args[1];
    }
}

std::string Shortest(double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string Printf(const char* format, double value) {
    if (!std::isfinite(value)) return "null";
    char text[400];  // the largest double in "%.5f" is 316 characters
    std::snprintf(text, sizeof text, format, value);
    return text;
}

TEST(CliReplayOutput, EveryDistanceRawValueAndStatePrintsAsPrintfWouldPrintIt) {
    // 65536 reports: report i has distance i, gate 0 raw i, state i % 256 (states
    // past 3 have no current: "null"), the other gates spread over the 16-bit range
    // and the edges of the energy table (100, 101, 199, 200, 65535).
    TempDir dir;
    const std::string record = dir.File("RadarData_sweep.dat");
    std::string bytes;
    std::vector<std::array<uint16_t, TARGET_GATE_COUNT>> raws;
    const uint16_t edges[] = {0, 100, 101, 199, 200, 65499, 65500, 65535};
    for (uint32_t i = 0; i < 65536; ++i) {
        std::array<uint16_t, TARGET_GATE_COUNT> raw{};
        raw[0] = static_cast<uint16_t>(i);
        raw[1] = edges[i % 8];
        for (int g = 2; g < TARGET_GATE_COUNT; ++g) raw[g] = static_cast<uint16_t>((i * 2654435761u) >> (g + 4));
        raws.push_back(raw);
        const auto payload = BuildTargetReportPayload(static_cast<uint8_t>(i % 256), static_cast<uint16_t>(i), raw.data());
        const auto frame = BuildReportFrame(payload.data(), static_cast<uint16_t>(payload.size()));
        bytes.append(frame.begin(), frame.end());
    }
    ASSERT_TRUE(WriteWholeFile(record, bytes));

    ParamSetting setting;
    InitParamSetting(setting);
    const CurrentConstants constants;
    const CliResult json = RunCli({"replay", "--json", record});
    const CliResult csv = RunCli({"replay", "--format", "csv", record});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const std::vector<std::string> jsonLines = NonEmptyLines(json.out);
    const std::vector<std::string> csvLines = NonEmptyLines(csv.out);
    ASSERT_EQ(jsonLines.size(), 65536u);
    ASSERT_EQ(csvLines.size(), 65537u);
    int wrong = 0;
    for (uint32_t i = 0; i < 65536 && wrong < 5; ++i) {
        const int state = static_cast<int>(i % 256);
        const std::string current = Printf("%.5f", EstimateCurrent(state, setting, constants));
        std::string rawList, dbList, rawCells, dbCells;
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
            const uint16_t raw = raws[i][static_cast<size_t>(g)];
            rawList += (g ? "," : "") + std::to_string(raw);
            dbList += (g ? "," : "") + Shortest(GateEnergyDb(raw));
            rawCells += "," + std::to_string(raw);
            dbCells += "," + Shortest(GateEnergyDb(raw));
        }
        static const char* const names[] = {"none", "none_alt", "moving", "motionless"};
        const std::string stateName = state < 4 ? names[state] : "other";
        const std::string expectedJson = "{\"format\":1,\"state\":" + std::to_string(state) + ",\"state_name\":\"" +
                                         stateName + "\",\"distance_cm\":" + std::to_string(i) +
                                         ",\"gates_raw\":[" + rawList + "],\"gates_db\":[" + dbList +
                                         "],\"current_ma\":" + current + "}";
        const std::string expectedCsv = std::to_string(i) + "," + std::to_string(state) + "," +
                                        Printf("%.2f", i / 100.0) + dbCells + rawCells + "," + current;
        if (jsonLines[i] != expectedJson || csvLines[i + 1] != expectedCsv) ++wrong;
        EXPECT_EQ(jsonLines[i], expectedJson) << i;
        EXPECT_EQ(csvLines[i + 1], expectedCsv) << i;
    }
}

TEST(CliReplayOutput, ACurrentOfHundredsOfDigitsIsPrintedWhole) {
    // Constants from a hand-edited configuration can make the estimate enormous; its
    // fixed-point text once overran the buffer and the line ended in stray bytes.
    TempDir dir;
    const std::string config = dir.File("appConfig.xml");
    ASSERT_TRUE(WriteWholeFile(config, "<?xml version=\"1.0\"?>\n<AppConfig><ObjectInfo CurrentLPValueMA=\"1e200\" "
                                       "CurrentDetectValueMA=\"1e200\"/></AppConfig>\n"));
    for (const char* format : {"jsonl", "csv", "text"}) {
        const CliResult result = RunCli({"replay", "--format", format, "--config", config, "-n", "1", DATA + "RadarData_stats.dat"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const std::vector<std::string> lines = NonEmptyLines(result.out);
        ASSERT_FALSE(lines.empty()) << format;
        const std::string& line = lines.back();
        EXPECT_EQ(line.find('\0'), std::string::npos) << format;
        // The estimate of state 0 in full, "%.5f": about 200 integer digits.
        ParamSetting setting;
        InitParamSetting(setting);
        CurrentConstants constants;
        constants.CurrentLPValueMA = 1e200;
        constants.CurrentDetectValueMA = 1e200;
        const std::string current = Printf("%.5f", EstimateCurrent(0, setting, constants));
        ASSERT_GT(current.size(), 200u);
        const std::string ending = std::string(format) == "jsonl" ? ":" + current + "}"
                                   : std::string(format) == "csv" ? "," + current
                                                                  : " " + current + " mA  |";
        EXPECT_NE(line.find(ending), std::string::npos) << format << ": " << line;
        if (std::string(format) == "jsonl") {
            const std::vector<Json> objects = ParseJsonLines(result.out);
            ASSERT_EQ(objects.size(), 1u);
            EXPECT_NEAR(objects[0].at("current_ma").get<double>() / 1e200, 1.0, 1e-9);
        }
    }
}

TEST(CliReplayOutput, CsvHasAHeaderAndOneRowPerReport) {
    const CliResult result = RunCli({"replay", "--format", "csv", DATA + "RadarData_stats.dat"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> lines = NonEmptyLines(result.out);
    ASSERT_EQ(lines.size(), 10u);
    const std::vector<std::string> header = Split(lines[0], ',');
    ASSERT_EQ(header.size(), 3u + 16u + 16u + 1u);
    EXPECT_EQ(header[0], "index");
    EXPECT_EQ(header[2], "distance_m");
    EXPECT_EQ(header[3], "gate0_db");
    EXPECT_EQ(header[19], "gate0_raw");
    EXPECT_EQ(header.back(), "current_ma");
    // The fifth report: moving at 1.00 m, every gate's raw energy 9000 (39.08 dB).
    const std::vector<std::string> row = Split(lines[5], ',');
    ASSERT_EQ(row.size(), header.size());
    EXPECT_EQ(row[0], "4");
    EXPECT_EQ(row[1], "2");
    EXPECT_EQ(row[2], "1.00");
    EXPECT_EQ(row[3].substr(0, 7), "39.0848");
    EXPECT_EQ(row[19], "9000");
    EXPECT_EQ(row.back(), "0.05535");
}

TEST(CliStats, CountsStatesDistancesAndWhatTheScannerRejected) {
    // 5 noise bytes, 4 reports of nobody, 3 moving at 1.00 m, one frame with a damaged
    // tail, 2 motionless at 2.50 m; the description gives 9 s.
    const CliResult result = RunCli({"stats", "--json", DATA + "RadarData_stats.dat"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<Json> objects = ParseJsonLines(result.out);
    ASSERT_EQ(objects.size(), 1u);
    const Json& s = objects[0];
    EXPECT_EQ(s.at("reports").get<double>(), 9);
    EXPECT_EQ(s.at("frames_rejected").get<double>(), 1);
    EXPECT_EQ(s.at("bytes_skipped").get<double>(), 5 + 4);  // the noise and the damaged tail
    EXPECT_EQ(s.at("duration_s").get<double>(), 9);
    EXPECT_EQ(s.at("states").at("none").at("reports").get<double>(), 4);
    EXPECT_NEAR(s.at("states").at("none").at("seconds").get<double>(), 4.0, 1e-9);
    EXPECT_NEAR(s.at("states").at("moving").at("seconds").get<double>(), 3.0, 1e-9);
    EXPECT_NEAR(s.at("states").at("motionless").at("seconds").get<double>(), 2.0, 1e-9);
    const Json& histogram = s.at("distance_histogram");
    ASSERT_GE(histogram.size(), 4u);
    EXPECT_EQ(histogram.at(1).at("reports").get<double>(), 3);  // 0.70 - 1.40 m
    EXPECT_EQ(histogram.at(3).at("reports").get<double>(), 2);  // 2.10 - 2.80 m
    EXPECT_EQ(histogram.at(3).at("from_m").get<double>(), 2.1);
    EXPECT_NEAR(s.at("gate_energy").at(0).at("max_db").get<double>(), 39.0848501887865, 1e-9);

    const CliResult text = RunCli({"stats", DATA + "RadarData_stats.dat", DATA + "RadarData_sample.dat"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("9 frames, 9 reports; 1 frames rejected, 9 bytes skipped"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("RadarData_sample.dat"), std::string::npos) << "every file given";
}

TEST(CliReplayOutput, ADescriptionThatCannotBeUsedIsNamedAndTheDefaultsAreUsed) {
    // A folder used to end replay with the raw exception text, a FIFO hung replay and
    // stats, and values out of range printed "null" as the current.
    TempDir dir;
    const std::string record = dir.File("RadarData_x.dat");
    const std::string description = dir.File("RadarData_x.json");
    ASSERT_TRUE(WriteWholeFile(record, ReadWholeFile(DATA + "RadarData_stats.dat")));
    const CliResult undescribed = RunCli({"replay", "--format", "csv", record});
    ASSERT_EQ(undescribed.exitCode, 0) << undescribed.err;
    EXPECT_TRUE(undescribed.err.empty()) << "no description is no problem: " << undescribed.err;
    const CliResult undescribedStats = RunCli({"stats", "--json", record});
    ASSERT_EQ(undescribedStats.exitCode, 0) << undescribedStats.err;

    const std::string unusable = "The description " + description + " cannot be used (";
    const std::string replaced = "The description " + description + " has values that cannot be used; the defaults are used for: ";
    const struct {
        const char* name;
        void (*make)(const std::string& path);
        std::string notice;
        bool described;  // stats: its time span is still used
    } cases[] = {
        {"folder", [](const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0); },
         unusable + "Is a directory); the defaults are used.", false},
        {"FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
         unusable + "not a regular file); the defaults are used.", false},
        {"malformed", [](const std::string& path) { ASSERT_TRUE(WriteWholeFile(path, "{\"format\": \"palo520g-rec")); },
         unusable + "not a record description); the defaults are used.", false},
        {"huge", [](const std::string& path) { ASSERT_TRUE(WriteWholeFile(path, std::string(2 << 20, ' '))); },
         unusable + "larger than 1048576 bytes); the defaults are used.", false},
        {"out of range",
         [](const std::string& path) {
             ASSERT_TRUE(WriteWholeFile(path, R"({"format": "palo520g-record", "start_time": "2026-01-01T00:00:00+00:00",
                 "end_time": "2026-01-01T00:00:09+00:00",
                 "param_setting": {"ResponseFreq": 0, "RangeReportFreq": 1e308, "RangeResolution": -0.7},
                 "current_constants": {"CurrentDetectValueMA": 1e308}})"));
         },
         replaced + "RangeResolution -0.7, ResponseFreq 0, RangeReportFreq 1e+308, CurrentDetectValueMA 1e+308", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(description);
        c.make(description);
        const CliResult replay = RunCli({"replay", "--format", "csv", record}, 20000);
        EXPECT_FALSE(replay.timedOut);
        EXPECT_EQ(replay.exitCode, 0) << replay.err;
        EXPECT_TRUE(Contains(replay.err, c.notice)) << replay.err;
        EXPECT_EQ(replay.out, undescribed.out) << "the defaults, with a current in every row";

        const CliResult stats = RunCli({"stats", "--json", record}, 20000);
        EXPECT_FALSE(stats.timedOut);
        EXPECT_EQ(stats.exitCode, 0) << stats.err;
        EXPECT_TRUE(Contains(stats.err, c.notice)) << stats.err;
        const std::vector<Json> objects = ParseJsonLines(stats.out);
        ASSERT_EQ(objects.size(), 1u);
        EXPECT_EQ(objects[0].at("described").get<bool>(), c.described);
        EXPECT_EQ(objects[0].at("distance_histogram"), ParseJsonLines(undescribedStats.out).at(0).at("distance_histogram"));
    }
}

}  // namespace
