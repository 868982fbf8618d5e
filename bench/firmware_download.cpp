// Time to download a 64 KiB image into the virtual sensor at 256000 baud, against
// what the line allows. The simulator paces both directions at 25600 bytes/s, as a
// real line does: the sensor's replies go out at that rate and the tool's packets
// reach the sensor only when their last byte would have come through.
//
// Each packet waits for its acknowledgement, so the line carries one direction at
// a time and the download can take no less than (bytes the tool sent + bytes the
// sensor sent) / 25600 s: that is bound_s, and of_bound = bound_s / measured time
// (1.0 = the line is never idle). The sensor grants its default maximum packet size
// of 256 bytes, of which 236 are image bytes; with the packet's acknowledgement the
// line carries more than the image. image_share = image bytes / wire bytes is the
// ceiling this packet size puts on any tool, and image_of_line = image bytes per
// second / 25600 is what this tool reached. PALO_BENCH_NO_PACING=1 runs unpaced.
//
// The time counts from the image's announcement to the last acknowledgement.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <string>
#include <vector>

#include "device/SensorLine.h"
#include "device/SerialPortRegistry.h"
#include "firmware/Bootloader.h"
#include "sim/VirtualSensor.h"

namespace {

constexpr int BAUD = 256000;
constexpr double LINE_BYTES_PER_S = BAUD / 10.0;
constexpr size_t IMAGE_BYTES = 64 * 1024;

// Marks the moment the image is announced.
class NullSink : public IBootloaderSink {
public:
    explicit NullSink(VirtualSensor& sensor) : sensor_(sensor) {}
    void OnImageInfo(uint32_t, uint32_t) override {
        start = std::chrono::steady_clock::now();
        atStart = sensor_.Counters();
    }
    std::chrono::steady_clock::time_point start;
    VirtualSensorCounters atStart;
    VirtualSensor& sensor_;
    void ShowMessage(int, const std::string& text) override { failure = text; }
    void AppendLog(int, const std::string& text) override { last = text; }
    void SetLabel(BootLabel, const std::string&) override {}
    void SetProgressRange(uint32_t) override {}
    void SetProgressValue(uint32_t) override {}
    void SetBusyVisible(bool) override {}
    void SetPartitionList(const std::vector<PartitionItem>&, int) override {}
    void ScrollLogToEnd() override {}
    std::string failure;
    std::string last;  // the last log line
};

void BM_DownloadImage64KiB(benchmark::State& state) {
    VirtualSensorOptions options;
    options.pacing = std::getenv("PALO_BENCH_NO_PACING") == nullptr;
    options.paceReceive = options.pacing;
    options.baudRate = BAUD;
    options.resetDelayMs = 20;
    VirtualSensor sensor(options);
    std::string error;
    if (!sensor.Start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string image =
        (std::filesystem::temp_directory_path() / ("palo520g-bench-" + std::to_string(::getpid()) + ".bin")).string();
    struct Remove {
        std::string path;
        ~Remove() { std::remove(path.c_str()); }
    } removeImage{image};
    {
        // Not a startable image: the sensor stays in its bootloader after each
        // download, so the timed downloads need no reset.
        std::FILE* file = std::fopen(image.c_str(), "wb");
        for (size_t i = 0; file && i < IMAGE_BYTES; ++i) std::fputc(static_cast<int>((i * 131u + 7u) & 0xFF), file);
        if (file) std::fclose(file);
    }

    NullSink sink(sensor);
    SensorLine line;
    CBootloader boot(sink, &line);
    boot.portNumber = RegisterSerialPortPath(sensor.PortPath());
    boot.baudRate = BAUD;
    // One download first leaves the sensor in its bootloader; the query then says
    // so and the timed downloads send no reset.
    if (!boot.UpdateFWInfo() || !boot.DownloadFW(0, image) || !boot.UpdateFWInfo() || !boot.inBootloader) {
        state.SkipWithError(("the sensor did not take the first download " + sink.failure + sink.last).c_str());
        return;
    }
    double wireBytes = 0;
    double seconds = 0;
    for (auto _ : state) {
        if (!boot.DownloadFW(0, image)) {
            state.SkipWithError(("download failed: " + sink.failure + sink.last).c_str());
            return;
        }
        const double run = std::chrono::duration<double>(std::chrono::steady_clock::now() - sink.start).count();
        state.SetIterationTime(run);
        seconds += run;
        const VirtualSensorCounters after = sensor.Counters();
        const VirtualSensorCounters& before = sink.atStart;
        wireBytes += static_cast<double>((after.bytesReceived - before.bytesReceived) + (after.bytesSent - before.bytesSent));
    }
    const double runs = static_cast<double>(state.iterations());
    const double bound = wireBytes / runs / LINE_BYTES_PER_S;
    state.counters["wire_bytes"] = wireBytes / runs;
    state.counters["bound_s"] = bound;
    state.counters["of_bound"] = bound / (seconds / runs);
    state.counters["image_share"] = static_cast<double>(IMAGE_BYTES) / (wireBytes / runs);
    state.counters["image_of_line"] = static_cast<double>(IMAGE_BYTES) / (seconds / runs) / LINE_BYTES_PER_S;
    state.SetBytesProcessed(static_cast<int64_t>(IMAGE_BYTES) * state.iterations());
}
BENCHMARK(BM_DownloadImage64KiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

}  // namespace
