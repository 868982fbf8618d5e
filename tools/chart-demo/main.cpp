// A window with the monitoring page's two charts, configured as the page configures
// them and fed live from a virtual sensor on a pseudo-terminal: the bytes go
// through the device library, the frame scanner and the report decoding, exactly
// as a real sensor's would.
//
//   palo520g-chart-demo [--speed X] [--screenshot FOLDER] [--seconds S]
//
// --speed runs the sensor's scene X times faster; --screenshot saves the window
// and both charts as PNG files after S seconds (default 10) and exits.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>

#include "app/StringTable.h"
#include "chart/widgets/CWaveWnd.h"
#include "common/BaseBuffer.h"
#include "device/RadarDevice.h"
#include "monitor/FrameScanner.h"
#include "sim/VirtualSensor.h"

namespace {

constexpr int kHistoryLength = 240;
constexpr double kRangeResolution = 0.7;
constexpr double kDetectRangeMax = 8.4;

QString Text(int id, const char* fallback) {
    const std::string text = LoadStringText(id);
    return text.empty() ? QString::fromUtf8(fallback) : QString::fromStdString(text);
}

class ChartDemo : public QWidget, public IWaveWndDrawListener, public IWaveWndTooltipListener {
public:
    ChartDemo() {
        setWindowTitle("Palo520G charts");
        setStyleSheet("background-color: #2A323C; color: white;");
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(8, 8, 8, 8);
        status_ = new QLabel(this);
        layout->addWidget(status_);
        energy_ = new CWaveWnd(this);
        range_ = new CWaveWnd(this);
        energy_->setObjectName("3011");
        range_->setObjectName("3010");
        layout->addWidget(energy_, 1);
        layout->addWidget(range_, 1);
        history_.fill(0xFF);
    }

    ~ChartDemo() override { StopReading(); }

    void SetupCharts(const std::array<uint32_t, 16>& trigger, const std::array<uint32_t, 16>& hold) {
        // Energy chart: one point per range gate against the two threshold tables.
        CWaveWnd& e = *energy_;
        e.SetDrawListener(this, 0);
        e.SetTooltipListener(this, 0);
        e.frameColor = 0x2A323C;
        e.waveCount = 3;
        e.waves[0].color = 0x00FF00;
        e.waves[1].color = 0x0000FF;
        e.waves[2].color = 0x00FFFF;
        e.plotBackgroundEnabled = 1;
        e.plotBackgroundColor = 0xFF000000;
        e.lineWidth = 5;
        e.SetDoubleSamples();
        e.autoScale = 0;
        e.SetValueRange(0, 100);
        e.SetSampleCount(16);
        e.SetWholeBlocksOnly(1);
        e.ClearData();
        e.SetText(0, Text(10310, "FP VS RG"), 15, 0xFFFFFFFF, 1, 0);
        e.SetText(1, Text(10311, "Fraction Power (dB)"), 10, 0xFFFFFFFF, 0, 0);
        e.SetText(2, Text(10312, "0.7 m/Range Gate"), 10, 0xFFFFFFFF, 2, 2);
        e.left.visible = 1;
        e.left.size = 50;
        e.Layout();
        e.bottom.visible = 1;
        e.bottom.size = 24;
        e.Layout();
        e.SetXAxisFont(8);
        e.SetYAxisFont(8, 0);
        e.top.axis.labelCount = e.bottom.axis.labelCount = 7;
        e.SetXRange(0, 15, -1);
        e.left.axis.labelCount = e.right.axis.labelCount = 5;
        e.Initialize();
        e.RecreateBuffers();
        ChartRect legend = e.plotRect;
        legend.top += 10;
        e.SetText(3, Text(10313, "--Energy Value"), 10, 0xFF00FF00, 2, 0, &legend);
        legend.top += 20;
        e.SetText(4, Text(10314, "--Trigger Threshold"), 10, 0xFFFF0000, 2, 0, &legend);
        legend.top += 20;
        e.SetText(5, Text(10315, "--Hold Threshold"), 10, 0xFFFFFF00, 2, 0, &legend);
        double triggerDb[16], holdDb[16];
        for (int g = 0; g < 16; ++g) {
            triggerDb[g] = trigger[static_cast<size_t>(g)];
            holdDb[g] = hold[static_cast<size_t>(g)];
        }
        e.waves[1].buffer.Append(triggerDb, 16);
        e.RequestRepaint();
        e.waves[2].buffer.Append(holdDb, 16);
        e.RequestRepaint();

        // Range chart: the target distance over the last 240 reports, with the state band.
        CWaveWnd& r = *range_;
        r.SetDrawListener(this, 1);
        r.SetTooltipListener(this, 1);
        r.frameColor = 0x2A323C;
        r.waveCount = 1;
        r.waves[0].color = 0x0000FF;
        r.plotBackgroundEnabled = 1;
        r.plotBackgroundColor = 0xFF000000;
        r.lineWidth = 5;
        r.SetDoubleSamples();
        r.SetValueRange(0.0, kDetectRangeMax);
        r.SetSampleCount(kHistoryLength);
        r.SetWholeBlocksOnly(0);
        r.SetText(0, Text(10330, "Range VS Time"), 15, 0xFFFFFFFF, 1, 0);
        r.SetText(1, Text(10331, "Range (m)"), 10, 0xFFFFFFFF, 0, 0);
        r.SetText(2, Text(10332, "Time (sec.)"), 10, 0xFFFFFFFF, 2, 2);
        r.left.visible = 1;
        r.left.size = 50;
        r.Layout();
        r.SetYAxisFont(8, 1);
        r.left.axis.labelCount = r.right.axis.labelCount = 5;
        r.bottom.visible = 1;
        r.bottom.size = 24;
        r.Layout();
        r.SetXAxisFont(8);
        r.SetXRange(60, 0, -1);
        int i = 0;
        for (CWaveWnd::AxisStrip* strip : {&r.top, &r.bottom}) {
            strip->axis.ClearLabels();
            i = 0;
            for (int seconds : {60, 45, 30, 15}) strip->axis.AddLabel(i++, "T0-" + std::to_string(seconds));
            strip->axis.AddLabel(4, "T0");
            strip->axis.labelCount = 5;
        }
        r.Initialize();
        r.RecreateBuffers();
    }

    bool StartReading(const std::string& path) {
        device_ = TAVO_Interface_RadarDevice_Serial_Create();
        if (!TAVO_Interface_RadarDevice_Serial_OpenByPath(device_, path.c_str(), 115200, 2, 0, 0, 0, 1000))
            return false;
        reader_ = std::thread([this] { ReadLoop(); });
        return true;
    }

    void StopReading() {
        if (!device_) return;
        stop_ = 1;
        TAVO_Interface_RadarDevice_CancelRead(device_);
        if (reader_.joinable()) reader_.join();
        TAVO_Interface_RadarDevice_Serial_Close(device_);
        TAVO_Interface_RadarDevice_Serial_Destroy(device_);
        device_ = nullptr;
    }

    void ShowStatus() {
        TargetReport report;
        uint64_t count = 0;
        {
            std::lock_guard<std::mutex> guard(reportLock_);
            report = report_;
            count = reports_;
        }
        const char* state = report.state == 2 ? "Presence" : report.state == 3 ? "Presence(Motionless)" : "None";
        const double distance = report.state >= 2 ? report.distanceCm / 100.0 : 0.0;
        status_->setText(QString("Target Status: %1    Target Distance: %2 m    Reports: %3")
                             .arg(state)
                             .arg(distance, 0, 'f', 2)
                             .arg(count));
    }

    CWaveWnd& Energy() { return *energy_; }
    CWaveWnd& Range() { return *range_; }

    // ---- listeners ----

    void OnDrawBackground(const WaveWndSurface& plot, const ChartRect& rect, uint64_t context) override {
        if (context != 1) return;
        // The state band: the last 240 states from left (oldest) to right (newest).
        std::array<uint8_t, kHistoryLength> history;
        {
            std::lock_guard<std::mutex> guard(reportLock_);
            history = history_;
        }
        const int w = rect.Width();
        const int bandHeight = std::min(50, rect.Height());
        auto colour = [](int cls) -> QRgb {
            switch (cls) {
            case 1: return 0xFF15BC59;
            case 2: return 0xFFFC5D45;
            case 3: return 0xFF3478FF;
            default: return 0xFF000000;
            }
        };
        auto classOf = [](uint8_t code) { return code == 0xFF ? 0 : code <= 1 ? 1 : code == 2 ? 2 : code == 3 ? 3 : -1; };
        int segmentClass = classOf(history[0]);
        int start = 0;
        for (int x = 0; x < w; ++x) {
            const int entry = std::clamp(static_cast<int>(std::lround(x / (static_cast<double>(w) / kHistoryLength))),
                                         0, kHistoryLength - 1);
            const int cls = classOf(history[static_cast<size_t>(entry)]);
            if (cls >= 1 && cls != segmentClass) {
                if (segmentClass >= 0) plot.painter->fillRect(QRect(start, 0, x - start, bandHeight), colour(segmentClass));
                segmentClass = cls;
                start = x;
            }
        }
        if (start != w - 1 && segmentClass >= 0)
            plot.painter->fillRect(QRect(start, 0, w - start, bandHeight), colour(segmentClass));
    }

    void OnDrawEnd(const WaveWndSurface& back, const ChartRect& plotRect, uint64_t context) override {
        if (context != 0) return;
        // Gates beyond the detection range are shaded.
        const int first = static_cast<int>(kDetectRangeMax / kRangeResolution) + 1;
        const int x0 = plotRect.left + static_cast<int>(first * (plotRect.Width() * 0.0625));
        back.painter->fillRect(QRect(x0, plotRect.top, plotRect.right - x0, plotRect.Height()),
                               QColor::fromRgba(0xBFC3C3C3));
    }

    QString GetTooltipText(int wave, int sample, int, int, double value, uint64_t context) override {
        if (context == 0) {
            const int ids[3] = {10316, 10317, 10318};
            const char* fallbacks[3] = {"RG No.%d Target Energy: %.1f dB", "RG No.%d Trigger Energy: %.1f dB",
                                        "RG No.%d Hold Energy: %.1f dB"};
            if (wave < 0 || wave > 2) return {};
            return QString::asprintf(Text(ids[wave], fallbacks[wave]).toUtf8().constData(), sample, value);
        }
        if (context == 1 && wave == 0)
            return QString::asprintf(Text(10333, "No. %.1fs Range: %.1f m").toUtf8().constData(),
                                     (kHistoryLength - sample) * 60.0 / kHistoryLength, value);
        return {};
    }

private:
    void ReadLoop() {
        CBaseBuffer carry;
        uint8_t chunk[256];
        while (!stop_) {
            const int n = TAVO_Interface_RadarDevice_ReadData(device_, chunk, sizeof chunk, 200, 0);
            if (n < 0) break;  // the line went away
            if (n == 0) continue;
            ScanFrames(carry, chunk, static_cast<size_t>(n), [this](const uint8_t* payload) { OnReport(payload); },
                       stop_);
        }
    }

    // On the reader thread: the page's effects of one report.
    void OnReport(const uint8_t* payload) {
        TargetReport report;
        if (!DecodeTargetReport(payload, report)) return;
        energy_->waves[0].buffer.Append(report.gateEnergyDb, 16);
        energy_->RequestRepaint();
        {
            std::lock_guard<std::mutex> guard(reportLock_);
            report_ = report;
            ++reports_;
            std::move(history_.begin() + 1, history_.end(), history_.begin());
            history_.back() = static_cast<uint8_t>(report.state & 0xFF);
        }
        const double metres = report.distanceCm / 100.0;
        range_->waves[0].buffer.Append(&metres, 1);
        range_->MarkBackgroundDirty();
        range_->RequestRepaint();
        QMetaObject::invokeMethod(this, [this] { ShowStatus(); }, Qt::QueuedConnection);
    }

    QLabel* status_ = nullptr;
    CWaveWnd* energy_ = nullptr;
    CWaveWnd* range_ = nullptr;
    TAVO_RadarDeviceHandle device_ = nullptr;
    std::thread reader_;
    std::atomic<int> stop_{0};
    std::mutex reportLock_;  //!< Protects report_, reports_ and history_.
    TargetReport report_;
    uint64_t reports_ = 0;
    std::array<uint8_t, kHistoryLength> history_{};
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption speed("speed", "Run the sensor's scene this many times faster.", "factor", "1");
    QCommandLineOption shot("screenshot", "Save PNG screenshots into this folder and exit.", "folder");
    QCommandLineOption seconds("seconds", "Seconds of data before the screenshots.", "seconds", "10");
    parser.addOptions({speed, shot, seconds});
    parser.process(app);

    VirtualSensorOptions options;
    options.streamTimeScale = std::max(0.1, parser.value(speed).toDouble());
    VirtualSensor sensor(options);
    std::string error;
    if (!sensor.Start(&error)) {
        std::fprintf(stderr, "virtual sensor: %s\n", error.c_str());
        return 1;
    }

    ChartDemo demo;
    demo.resize(900, 800);
    demo.show();
    QApplication::processEvents();
    demo.SetupCharts(sensor.GateTable(114), sensor.GateTable(118));
    if (!demo.StartReading(sensor.PortPath())) {
        std::fprintf(stderr, "cannot open %s\n", sensor.PortPath().c_str());
        return 1;
    }

    if (parser.isSet(shot)) {
        const QString folder = parser.value(shot);
        QDir().mkpath(folder);
        QTimer::singleShot(static_cast<int>(parser.value(seconds).toDouble() * 1000), &app, [&] {
            QApplication::processEvents();
            const bool ok = demo.grab().save(QDir(folder).filePath("chart-demo.png")) &&
                            demo.Energy().grab().save(QDir(folder).filePath("energy-chart.png")) &&
                            demo.Range().grab().save(QDir(folder).filePath("range-chart.png"));
            std::printf("%s screenshots in %s\n", ok ? "saved" : "could not save", qPrintable(folder));
            app.exit(ok ? 0 : 1);
        });
    }
    const int result = app.exec();
    demo.StopReading();
    sensor.Stop();
    return result;
}
