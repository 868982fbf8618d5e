// palo520g replay of a generated record file of 500,000 report frames to /dev/null,
// as a whole process: the JSON, text and CSV output. Reports per second of wall time.
// Beside them, the yardstick for the JSON output: a hand-written C formatter of the
// same line, run the same way (a process writing to /dev/null). It is checked to
// print exactly what the tool prints before it is timed.

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "monitor/CurrentEstimate.h"
#include "monitor/FrameScanner.h"
#include "params/ParamSetting.h"

namespace {

constexpr int FRAMES = 500000;

const std::string& RecordFile() {
    // Never destroyed: the exit handler that removes the file runs after the
    // destructors of statics made later than it was registered.
    static const std::string& path = *new std::string([] {
        const std::string file =
            (std::filesystem::temp_directory_path() / ("palo520g-bench-replay-" + std::to_string(getpid()) + ".dat")).string();
        std::FILE* out = std::fopen(file.c_str(), "wb");
        std::mt19937 random(7);
        uint16_t raw[TARGET_GATE_COUNT];
        for (int i = 0; i < FRAMES && out; ++i) {
            for (uint16_t& r : raw) r = static_cast<uint16_t>(random());
            const auto payload = BuildTargetReportPayload(static_cast<uint8_t>(random() % 4),
                                                          static_cast<uint16_t>(random() % 840), raw);
            const auto frame = BuildReportFrame(payload.data(), static_cast<uint16_t>(payload.size()));
            std::fwrite(frame.data(), 1, frame.size(), out);
        }
        if (out) std::fclose(out);
        return file;
    }());
    static const bool removedAtExit = std::atexit([] { std::remove(RecordFile().c_str()); }) == 0;
    (void)removedAtExit;
    return path;
}

// ---- the hand-written C formatter ----

struct ReferenceTables {
    char db[656][24];
    int dbSize[656];
    char current[256][48];
    int currentSize[256];
};

// The shortest "%.*g" without an exponent that reads back as the same double (the
// decibels are between 0 and 57).
int ShortestText(char* out, size_t size, double value) {
    int n = 0;
    for (int precision = 1; precision <= 17; ++precision) {
        n = std::snprintf(out, size, "%.*g", precision, value);
        if (!std::strchr(out, 'e') && std::strtod(out, nullptr) == value) break;
    }
    return n;
}

void MakeReferenceTables(ReferenceTables& t) {
    ParamSetting setting;
    InitParamSetting(setting);
    const CurrentConstants constants;
    for (int q = 0; q < 656; ++q) t.dbSize[q] = ShortestText(t.db[q], sizeof t.db[q], GateEnergyDb(q ? q * 100 + 1 : 0));
    for (int s = 0; s < 256; ++s) {
        const double mA = EstimateCurrent(s, setting, constants);
        t.currentSize[s] = std::isfinite(mA) ? std::snprintf(t.current[s], sizeof t.current[s], "%.5f", mA)
                                             : std::snprintf(t.current[s], sizeof t.current[s], "null");
    }
}

char* PutText(char* p, const char* text, int size) {
    std::memcpy(p, text, static_cast<size_t>(size));
    return p + size;
}

char* PutUnsigned(char* p, unsigned v) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) *p++ = digits[--n];
    return p;
}

unsigned Le16(const unsigned char* b) { return b[0] | (b[1] << 8); }

const char* const STATE_NAMES[5] = {"none", "none_alt", "moving", "motionless", "other"};
const int STATE_NAME_SIZES[5] = {4, 8, 6, 10, 5};

// Reads the record file in blocks, finds the report frames and writes one JSON line
// per target report to out. The tables are made before the run.
void ReferenceJsonLines(const char* path, std::FILE* out, const ReferenceTables& t) {
    static const unsigned char head[4] = {0xF4, 0xF3, 0xF2, 0xF1};
    static const unsigned char tail[4] = {0xF8, 0xF7, 0xF6, 0xF5};
    std::FILE* in = std::fopen(path, "rb");
    if (!in) return;
    std::vector<unsigned char> block(1 << 16);
    std::vector<char> text(1 << 16);
    size_t held = 0;
    char* p = text.data();
    for (;;) {
        const size_t got = std::fread(block.data() + held, 1, block.size() - held, in);
        if (got == 0) break;
        const size_t n = held + got;
        size_t i = 0;
        while (i + 10 <= n) {
            if (std::memcmp(block.data() + i, head, 4) != 0) {
                ++i;
                continue;
            }
            const size_t length = Le16(block.data() + i + 4);
            if (i + length + 10 > n) break;
            if (std::memcmp(block.data() + i + 6 + length, tail, 4) != 0) {
                i += 6 + length;
                continue;
            }
            const unsigned char* r = block.data() + i + 6;
            i += length + 10;
            if (length != 70 || r[0] != 1) continue;
            p = PutText(p, "{\"format\":1,\"state\":", 20);
            p = PutUnsigned(p, r[1]);
            p = PutText(p, ",\"state_name\":\"", 15);
            p = PutText(p, STATE_NAMES[r[1] < 4 ? r[1] : 4], STATE_NAME_SIZES[r[1] < 4 ? r[1] : 4]);
            p = PutText(p, "\",\"distance_cm\":", 16);
            p = PutUnsigned(p, Le16(r + 2));
            p = PutText(p, ",\"gates_raw\":[", 14);
            for (int g = 0; g < 16; ++g) {
                if (g) *p++ = ',';
                p = PutUnsigned(p, Le16(r + 6 + 4 * g));
            }
            p = PutText(p, "],\"gates_db\":[", 14);
            for (int g = 0; g < 16; ++g) {
                if (g) *p++ = ',';
                const unsigned raw = Le16(r + 6 + 4 * g);
                const unsigned q = raw <= 100 ? 0 : raw / 100;
                p = PutText(p, t.db[q], t.dbSize[q]);
            }
            p = PutText(p, "],\"current_ma\":", 15);
            p = PutText(p, t.current[r[1]], t.currentSize[r[1]]);
            p = PutText(p, "}\n", 2);
            if (p - text.data() > (1 << 16) - 1024) {
                std::fwrite(text.data(), 1, static_cast<size_t>(p - text.data()), out);
                p = text.data();
            }
        }
        held = n - i;
        std::memmove(block.data(), block.data() + i, held);
    }
    std::fwrite(text.data(), 1, static_cast<size_t>(p - text.data()), out);
    std::fclose(in);
}

// Runs the reference in a child process with stdout to file; its exit code.
int RunReference(const std::string& record, const char* outputFile) {
    static ReferenceTables tables;
    static const bool made = (MakeReferenceTables(tables), true);
    (void)made;
    const pid_t pid = fork();
    if (pid == 0) {
        std::FILE* out = std::freopen(outputFile, "w", stdout);
        if (!out) _exit(1);
        ReferenceJsonLines(record.c_str(), out, tables);
        _exit(std::fflush(out) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs palo520g with stdout to output (/dev/null unless given); its exit code.
int RunReplay(const std::vector<std::string>& args, const char* output = "/dev/null") {
    const std::string program = std::string(PALO_BINARY_DIR) + "/palo520g";
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(output, "w", stdout)) _exit(126);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_ReplayToDevNull(benchmark::State& state, const char* format) {
    const std::string& file = RecordFile();
    for (auto _ : state) {
        if (RunReplay({"replay", "--format", format, file}) != 0) {
            state.SkipWithError("palo520g replay failed");
            return;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * FRAMES);
}

std::string ReadAll(const std::string& path) {
    std::string bytes;
    if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
        char block[1 << 16];
        for (size_t n; (n = std::fread(block, 1, sizeof block, in)) > 0;) bytes.append(block, n);
        std::fclose(in);
    }
    return bytes;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// The C reference and palo520g replay --json in turn, each to /dev/null; the
// medians of both and of the ratio pair by pair, which keeps the ratio meaningful
// when the machine's speed drifts during the run.
void BM_JsonAgainstCReference(benchmark::State& state) {
    const std::string& file = RecordFile();
    // Only a reference that prints the same bytes is a fair yardstick.
    const std::string tool = RecordFile() + ".tool.jsonl";
    const std::string reference = RecordFile() + ".reference.jsonl";
    const bool ran = RunReplay({"replay", "--json", file}, tool.c_str()) == 0 && RunReference(file, reference.c_str()) == 0;
    const bool same = ran && ReadAll(tool) == ReadAll(reference);
    if (!same) {
        state.SkipWithError(("the C reference does not print what palo520g replay --json prints: compare " + tool +
                             " with " + reference).c_str());
        return;
    }
    std::remove(tool.c_str());
    std::remove(reference.c_str());
    using Clock = std::chrono::steady_clock;
    std::vector<double> toolMs, referenceMs, ratios;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int referenceRc = RunReference(file, "/dev/null");
        const auto t1 = Clock::now();
        const int toolRc = RunReplay({"replay", "--json", file});
        const auto t2 = Clock::now();
        if (referenceRc != 0 || toolRc != 0) {
            state.SkipWithError("a run failed");
            return;
        }
        referenceMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        toolMs.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        ratios.push_back(toolMs.back() / referenceMs.back());
    }
    state.counters["reference_ms"] = Median(referenceMs);
    state.counters["replay_json_ms"] = Median(toolMs);
    state.counters["ratio"] = Median(ratios);
    state.counters["reference_reports_per_s"] = FRAMES / (Median(referenceMs) / 1000.0);
    state.counters["replay_json_reports_per_s"] = FRAMES / (Median(toolMs) / 1000.0);
}

// The program's start alone (a file of one report): the share of each run above
// that is not replaying.
void BM_ReplayStartOnly(benchmark::State& state) {
    const std::string file = RecordFile() + ".one.dat";
    uint16_t raw[TARGET_GATE_COUNT] = {};
    const auto payload = BuildTargetReportPayload(0, 100, raw);
    const auto frame = BuildReportFrame(payload.data(), static_cast<uint16_t>(payload.size()));
    if (std::FILE* out = std::fopen(file.c_str(), "wb")) {
        std::fwrite(frame.data(), 1, frame.size(), out);
        std::fclose(out);
    }
    for (auto _ : state) {
        if (RunReplay({"replay", "--json", file}) != 0) {
            state.SkipWithError("palo520g replay failed");
            break;
        }
    }
    std::remove(file.c_str());
}

BENCHMARK(BM_JsonAgainstCReference)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(11);
BENCHMARK_CAPTURE(BM_ReplayToDevNull, jsonl, "jsonl")
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ReplayStartOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_ReplayToDevNull, text, "text")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ReplayToDevNull, csv, "csv")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
