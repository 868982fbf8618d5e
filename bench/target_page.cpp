// The target page in the main window at 1920 x 1080: a full repaint of the page
// (both charts with the band, every layer rendered again), the repaint after one new
// report (what Qt repaints then: the two charts and the status text), and the CPU
// the tool uses during a live run against palo520g-sim at the sensor's fastest
// report rate (8 Hz state and range reports), measured over 30 s.
//
//   bench_target_page [--benchmark_filter=...]
// The live run needs build/palo520g-sim beside this program (PALO_BINARY_DIR).

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "app/AppConfig.h"
#include "app/widgets/MainWindow.h"
#include "chart/widgets/WaveChart.h"
#include "common/FileUtils.h"
#include "controls/widgets/ColorLabel.h"
#include "controls/widgets/MessageBox.h"
#include "monitor/widgets/TargetPage.h"
#include "params/widgets/ParameterPage.h"

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_target_page";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

// A data folder of its own, so that the bench never touches a user's configuration.
std::string DataFolder() {
    static const std::string folder = [] {
        const std::string path = (std::filesystem::temp_directory_path() /
                                  ("palo520g-bench-" + std::to_string(::getpid())))
                                     .string();
        std::filesystem::create_directories(path);
        std::FILE* shown = std::fopen((path + "/LicenseShown").c_str(), "w");
        if (shown) std::fclose(shown);
        return path;
    }();
    return folder;
}

std::unique_ptr<MainWindow> OpenWindow(MainWindowOptions options = {}) {
    App();
    SetProgramPathOverride(DataFolder());
    LoadAppConfig();
    auto window = std::make_unique<MainWindow>(std::move(options));
    window->show();
    window->resize(1920, 1080);
    QApplication::processEvents();
    window->OnPageButton(1188);
    QApplication::processEvents();
    return window;
}

TargetPage* TargetPageOf(MainWindow& window) {
    return dynamic_cast<TargetPage*>(window.Page(1188));
}

TargetReport ReportNumber(int n) {
    TargetReport report;
    report.state = 2 + (n / 40) % 2;
    report.distanceCm = 100 + (n * 7) % 600;
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
        report.gateRaw[g] = 3000 + ((n + g) * 131) % 4000;
        report.gateEnergyDb[g] = GateEnergyDb(static_cast<uint32_t>(report.gateRaw[g]));
    }
    return report;
}

// Fills both charts with 240 reports.
void Feed(TargetPage& page) {
    for (int n = 0; n < 240; ++n) page.Charts().AppendReport(ReportNumber(n));
}

void RenderInto(QWidget& widget, QImage& image) {
    QPainter painter(&image);
    widget.render(&painter, widget.mapTo(widget.window(), QPoint(0, 0)));
}

void BM_FullPageRepaint(benchmark::State& state) {
    auto window = OpenWindow();
    TargetPage& page = *TargetPageOf(*window);
    Feed(page);
    QImage screen(window->size(), QImage::Format_RGB32);
    WaveChart* charts[2] = {window->findChild<WaveChart*>("3011"), window->findChild<WaveChart*>("3010")};
    for (auto _ : state) {
        for (WaveChart* chart : charts) {
            chart->MarkLayersDirty();
        }
        RenderInto(page, screen);
    }
    state.counters["page_px"] = page.width() * page.height();
}
BENCHMARK(BM_FullPageRepaint)->Unit(benchmark::kMillisecond);

void BM_RepaintAfterOneReport(benchmark::State& state) {
    auto window = OpenWindow();
    TargetPage& page = *TargetPageOf(*window);
    Feed(page);
    QImage screen(window->size(), QImage::Format_RGB32);
    QWidget* repainted[3] = {window->findChild<WaveChart*>("3011"), window->findChild<WaveChart*>("3010"),
                             window->findChild<ColorLabel*>("3002")};
    for (QWidget* widget : repainted) RenderInto(*widget, screen);
    int n = 240;
    for (auto _ : state) {
        page.Charts().AppendReport(ReportNumber(n++));
        page.UpdateStatus();
        for (QWidget* widget : repainted) RenderInto(*widget, screen);
    }
}
BENCHMARK(BM_RepaintAfterOneReport)->Unit(benchmark::kMillisecond);

// Runs the event loop for a while, as the tool's own loop does (QTest::qWait would
// poll and sleep in steps, which costs CPU of its own).
void RunEventLoop(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// palo520g-sim on a linked pseudo-terminal; killed with the object.
class SimProcess {
public:
    explicit SimProcess(const std::string& link) {
        const std::string sim = std::string(PALO_BINARY_DIR) + "/palo520g-sim";
        pid_ = fork();
        if (pid_ == 0) {
            std::freopen("/dev/null", "w", stdout);
            execl(sim.c_str(), sim.c_str(), "--link", link.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && !std::filesystem::exists(link); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

void BM_LiveRunCpu(benchmark::State& state) {
    const std::string link = DataFolder() + "/sim";
    SimProcess sim(link);
    if (!std::filesystem::exists(link)) {
        state.SkipWithError("palo520g-sim did not start");
        return;
    }
    MainWindowOptions options;
    options.extraPortPaths.push_back(link);
    options.selectPortPath = link;
    auto window = OpenWindow(options);
    window->OnConnect();
    window->Params().StateReportFreq = 8.0;
    window->Params().RangeReportFreq = 8.0;
    window->Params().ResponseFreq = 1.0;
    // The parameter page writes the fastest report rates to the sensor (its box goes nowhere).
    const MessageBoxHook previous = SetMessageBoxHook([](const MessageBoxRecord&) {});
    window->OnPageButton(1187);
    window->FindPage<ParameterPage>()->UpdateControls();
    window->FindPage<ParameterPage>()->OnWrite();
    SetMessageBoxHook(previous);
    window->OnPageButton(1188);
    TargetPage& page = *TargetPageOf(*window);
    const double seconds = static_cast<double>(state.range(0));
    for (auto _ : state) {
        RunEventLoop(1000);  // the run settles
        const uint64_t reports0 = page.Worker().ReportCount();
        const double cpu0 = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        RunEventLoop(static_cast<int>(seconds * 1000));
        const double cpu = CpuSeconds() - cpu0;
        const double elapsed = wall.elapsed() / 1000.0;
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / elapsed;
        state.counters["reports_per_s"] = (page.Worker().ReportCount() - reports0) / elapsed;
    }
    page.StopRealtimeShow();
}
BENCHMARK(BM_LiveRunCpu)->Arg(30)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
