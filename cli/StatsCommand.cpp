// stats: what a record file holds, for a look at long recordings without a chart.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/StringIds.h"
#include "Commands.h"
#include "Output.h"
#include "ReportFormat.h"
#include "common/BaseBuffer.h"
#include "common/TimeUtils.h"
#include "monitor/FrameScanner.h"
#include "monitor/RecordSidecar.h"

namespace {

constexpr size_t CHUNK_SIZE = 1 << 20;
constexpr int DISTANCE_BINS = 13;  // gates 0 .. 12 of the default resolution

struct RecordStats {
    std::string path;
    bool described = false;
    double durationSeconds = -1;  // from the description; -1 when unknown
    double rangeResolution = 0.7;
    uint64_t bytes = 0;
    uint64_t reports = 0;
    ScanCounters scan;
    std::array<uint64_t, 5> states{};  // 0, 1, 2, 3, other
    std::array<uint64_t, DISTANCE_BINS + 1> distance{};  // by gate for reports with a target; last = beyond
    std::array<double, TARGET_GATE_COUNT> energySum{};
    std::array<double, TARGET_GATE_COUNT> energyMax{};
};

bool Collect(const std::string& path, RecordStats& stats) {
    stats.path = path;
    const ReplayDescription read = LoadReplayDescription(path);
    ReportDescriptionProblems(read);
    if (read.usable) {
        const RecordSidecar& description = read.sidecar;
        stats.described = true;
        if (description.params.RangeResolution > 0) stats.rangeResolution = description.params.RangeResolution;
        long long start = 0;
        long long end = 0;
        if (ParseIsoTime(description.startTime, start) && ParseIsoTime(description.endTime, end) && end >= start)
            stats.durationSeconds = static_cast<double>(end - start);
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    CBaseBuffer carry;
    std::vector<uint8_t> chunk(CHUNK_SIZE);
    const std::atomic<int> never{0};
    const ReportHandler handler = [&stats](const uint8_t* payload) {
        TargetReport report;
        if (!DecodeTargetReport(payload, report)) return;
        ++stats.reports;
        stats.states[static_cast<size_t>(report.state >= 0 && report.state <= 3 ? report.state : 4)] += 1;
        if (report.state == TARGET_STATE_MOVING || report.state == TARGET_STATE_MOTIONLESS) {
            const int gate = static_cast<int>(report.distanceCm / (stats.rangeResolution * 100.0));
            stats.distance[static_cast<size_t>(std::clamp(gate, 0, DISTANCE_BINS))] += 1;
        }
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
            stats.energySum[static_cast<size_t>(g)] += report.gateEnergyDb[g];
            stats.energyMax[static_cast<size_t>(g)] = std::max(stats.energyMax[static_cast<size_t>(g)], report.gateEnergyDb[g]);
        }
    };
    size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
        stats.bytes += n;
        ScanFrames(carry, chunk.data(), n, handler, never, &stats.scan);
    }
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

double Share(uint64_t part, uint64_t whole) { return whole ? static_cast<double>(part) / static_cast<double>(whole) : 0.0; }

Json ToJson(const RecordStats& s) {
    Json states = Json::object();
    const char* names[5] = {"none", "none_alt", "moving", "motionless", "other"};
    for (size_t k = 0; k < 5; ++k) {
        Json state{{"reports", s.states[k]}, {"share", Share(s.states[k], s.reports)}};
        if (s.durationSeconds >= 0) state["seconds"] = Share(s.states[k], s.reports) * s.durationSeconds;
        states[names[k]] = state;
    }
    // Bin edges in millimetres' precision: 3 x 0.7 is 2.1, not 2.0999999999999996.
    const auto edge = [&s](size_t b) { return std::round(static_cast<double>(b) * s.rangeResolution * 1000.0) / 1000.0; };
    Json histogram = Json::array();
    for (size_t b = 0; b < s.distance.size(); ++b) {
        histogram.push_back({{"from_m", edge(b)},
                             {"to_m", b + 1 < s.distance.size() ? Json(edge(b + 1)) : Json(nullptr)},
                             {"reports", s.distance[b]}});
    }
    Json gates = Json::array();
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
        gates.push_back({{"gate", g},
                         {"mean_db", s.reports ? s.energySum[static_cast<size_t>(g)] / static_cast<double>(s.reports) : 0.0},
                         {"max_db", s.energyMax[static_cast<size_t>(g)]}});
    }
    return Json{{"file", s.path},
                {"bytes", s.bytes},
                {"reports", s.reports},
                {"frames", s.scan.frames},
                {"frames_rejected", s.scan.rejected},
                {"bytes_skipped", s.scan.skippedBytes},
                {"described", s.described},
                {"duration_s", s.durationSeconds >= 0 ? Json(s.durationSeconds) : Json(nullptr)},
                {"states", states},
                {"distance_histogram", histogram},
                {"gate_energy", gates}};
}

void PrintText(const RecordStats& s) {
    char line[256];
    PrintLine(s.path);
    std::snprintf(line, sizeof line, "  %llu bytes, %llu frames, %llu reports; %llu frames rejected, %llu bytes skipped",
                  static_cast<unsigned long long>(s.bytes), static_cast<unsigned long long>(s.scan.frames),
                  static_cast<unsigned long long>(s.reports), static_cast<unsigned long long>(s.scan.rejected),
                  static_cast<unsigned long long>(s.scan.skippedBytes));
    PrintLine(line);
    if (s.durationSeconds >= 0) {
        std::snprintf(line, sizeof line, "  duration %.0f s (from the description)", s.durationSeconds);
        PrintLine(line);
    }
    const int ids[4] = {TARGET_STATE_NONE, TARGET_STATE_NONE_ALT, TARGET_STATE_MOVING, TARGET_STATE_MOTIONLESS};
    for (int k = 0; k < 4; ++k) {
        if (k == 1 && s.states[1] == 0) continue;
        const double share = Share(s.states[static_cast<size_t>(k)], s.reports);
        std::string text = "  " + PaddedStateText(ids[k]);
        std::snprintf(line, sizeof line, "%8llu reports  %5.1f %%", static_cast<unsigned long long>(s.states[static_cast<size_t>(k)]),
                      share * 100.0);
        text += line;
        if (s.durationSeconds >= 0) {
            std::snprintf(line, sizeof line, "  %8.1f s", share * s.durationSeconds);
            text += line;
        }
        PrintLine(text);
    }
    PrintLine("  distance (reports with a target):");
    for (size_t b = 0; b < s.distance.size(); ++b) {
        if (s.distance[b] == 0) continue;
        if (b + 1 < s.distance.size())
            std::snprintf(line, sizeof line, "    %5.2f - %5.2f m  %llu", b * s.rangeResolution, (b + 1) * s.rangeResolution,
                          static_cast<unsigned long long>(s.distance[b]));
        else
            std::snprintf(line, sizeof line, "    >= %5.2f m       %llu", b * s.rangeResolution,
                          static_cast<unsigned long long>(s.distance[b]));
        PrintLine(line);
    }
    PrintLine("  gate  mean dB  max dB");
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
        std::snprintf(line, sizeof line, "  %4d  %7.1f  %6.1f", g,
                      s.reports ? s.energySum[static_cast<size_t>(g)] / static_cast<double>(s.reports) : 0.0,
                      s.energyMax[static_cast<size_t>(g)]);
        PrintLine(line);
    }
}

struct StatsOptions {
    std::vector<std::string> files;
    bool json = false;
};

int RunStats(const StatsOptions& options) {
    int rc = EXIT_OK;
    for (const std::string& file : options.files) {
        RecordStats stats;
        const std::string path = std::filesystem::absolute(file).lexically_normal().string();
        if (!Collect(path, stats)) {
            PrintError(Text(TEXT_RECORD_UNREADABLE, path.c_str()));
            rc = EXIT_FAILED;
            continue;
        }
        if (options.json)
            PrintLine(JsonText(ToJson(stats)));
        else
            PrintText(stats);
    }
    return rc;
}

}  // namespace

void AddStatsCommand(CLI::App& app, CommandList& commands) {
    CLI::App* stats = app.add_subcommand("stats", "Summarise record files: reports, states, distances, energies");
    auto options = std::make_shared<StatsOptions>();
    stats->add_option("FILE", options->files, "Record files (RadarData_*.dat)")->required()->check(CLI::ExistingFile);
    stats->add_flag("--json", options->json, "One JSON object per file");
    commands.push_back({stats, [options] { return RunStats(*options); }});
}
