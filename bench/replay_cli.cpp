// palo520g replay of a generated record file of 200,000 report frames to /dev/null,
// as a whole process: the JSON and the text output. Reports per second of wall time.

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "monitor/FrameScanner.h"

namespace {

constexpr int FRAMES = 200000;

const std::string& RecordFile() {
    static const std::string path = [] {
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
    }();
    return path;
}

// Runs palo520g with stdout to /dev/null; its exit code.
int RunReplay(const std::vector<std::string>& args) {
    const std::string program = std::string(PALO_BINARY_DIR) + "/palo520g";
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
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
BENCHMARK_CAPTURE(BM_ReplayToDevNull, jsonl, "jsonl")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ReplayToDevNull, text, "text")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ReplayToDevNull, csv, "csv")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
