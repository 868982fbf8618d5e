// The target page in the main window at 1920 x 1080: a full repaint of the page
// (both charts with the band, every layer rendered again), the repaint after one new
// report for each data shape at the window's default size and at 1920 x 1080 (what
// the event loop repaints and flushes then), and the CPU
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
#include <map>
#include <memory>
#include <random>
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

#include "ChartShapes.h"

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_target_page";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: Qt's own statics go first at exit, and an application torn
    // down after a shown window would crash there.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
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

// The window at 1920 x 1080, or at the size it opens with.
std::unique_ptr<MainWindow> OpenWindow(MainWindowOptions options = {}, bool fullHd = true) {
    App();
    SetProgramPathOverride(DataFolder());
    LoadAppConfig();
    auto window = std::make_unique<MainWindow>(std::move(options));
    window->show();
    if (fullHd) window->resize(1920, 1080);
    QApplication::processEvents();
    window->OnPageButton(1188);
    QApplication::processEvents();
    return window;
}

// Counts the paint events of the widgets it watches, by object name.
class PaintCounter : public QObject {
public:
    std::map<QString, int> byName;
    int others = 0;
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const QString name = object->objectName();
            if (name == "3001" || name == "3010" || name == "3011")
                ++byName[name];
            else
                ++others;
        }
        return false;
    }
    double Count(const char* a, const char* b = nullptr) {
        return byName[a] + (b ? byName[b] : 0);
    }
};

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

// What one report costs the window when the window paints it, one frame after the
// last (CPU time of the window's thread): the charts take it (as the worker's hook does),
// the page shows its status (as the report's notice does), and the event loop
// repaints what changed (the charts, the status text, the state picture when the
// state changed) and flushes the window's backing store. The steps shape changes
// state with each step (none at 0, a moving target at the maximum).
void BM_RepaintAfterOneReport(benchmark::State& state) {
    const auto shape = static_cast<ChartShape>(state.range(0));
    auto window = OpenWindow({}, state.range(1) != 0);
    TargetPage& page = *TargetPageOf(*window);
    std::mt19937 random(7);
    int64_t n = 0;
    const auto report = [&] {
        TargetReport r = ReportNumber(static_cast<int>(n));
        const double metres = ShapeValue(shape, n++, random);
        r.distanceCm = static_cast<int>(metres * 100 + 0.5);
        r.state = shape == ChartShape::STEPS && r.distanceCm == 0 ? TARGET_STATE_NONE : TARGET_STATE_MOVING;
        return r;
    };
    for (int i = 0; i < 240; ++i) page.Charts().AppendReport(report());
    QApplication::processEvents();
    QApplication::processEvents();
    PaintCounter counter;
    for (QWidget* widget : window->findChildren<QWidget*>()) widget->installEventFilter(&counter);
    for (auto _ : state) {
        const TargetReport r = report();
        const double before = counter.Count("3010");
        page.Charts().AppendReport(r);
        page.ShowStatus(r.state, r.distanceCm);
        // The charts repaint at most once a frame interval: the loop waits for that
        // paint, idle, so the CPU time is one report's and one frame's work.
        while (counter.Count("3010") == before) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QApplication::processEvents();
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["chart_paints"] = counter.Count("3010", "3011") / iterations;
    state.counters["picture_paints"] = counter.Count("3001") / iterations;
    state.counters["other_paints"] = counter.others / iterations;
    state.counters["window_w"] = window->width();
    state.counters["range_chart_w"] = window->findChild<WaveChart*>("3010")->width();
    state.SetLabel(ShapeName(shape));
}
BENCHMARK(BM_RepaintAfterOneReport)->Apply(ShapeSizeArgs)->Iterations(100)->Unit(benchmark::kMillisecond);

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
            if (!std::freopen("/dev/null", "w", stdout)) _exit(126);
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
