// replay's output formats and the stats command, on committed record files.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CliRunner.h"
#include "JsonOutput.h"

namespace {

const std::string DATA = std::string(PALO_SOURCE_DIR) + "/tests/data/";

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
    return hash;
}

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> cells(1);
    for (char c : line) {
        if (c == separator) cells.emplace_back();
        else cells.back() += c;
    }
    return cells;
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
        EXPECT_EQ(Fnv1a(result.out), c.digest) << c.args[1];
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

}  // namespace
