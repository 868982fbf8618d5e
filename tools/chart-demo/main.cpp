// A window with the target page's two charts, built from the same blocks as the
// page (TargetCharts) and fed by the acquisition worker on a live port: the
// in-process virtual sensor on a pseudo-terminal, or the sensor on --port. The
// bytes go through the device library, the frame scanner and the report decoding
// exactly as in the tool.
//
//   palo520g-chart-demo [--port PATH] [--baud N] [--speed X] [--scale F]
//                       [--screenshot FOLDER] [--seconds S]
//
// --speed runs the virtual sensor's scene X times faster; --scale draws the charts
// at that layout scale; --screenshot saves the window and both charts as PNG files
// after S seconds (default 10) and exits.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "chart/widgets/WaveChart.h"
#include "session/SensorSession.h"
#include "monitor/AcquisitionWorker.h"
#include "monitor/widgets/AcquisitionEventSink.h"
#include "monitor/widgets/TargetCharts.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"
#include "sim/VirtualSensor.h"

namespace {

class ChartDemo : public QWidget {
public:
    ChartDemo() {
        setWindowTitle("Palo520G charts");
        setStyleSheet("background-color: #2A323C; color: white;");
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(8, 8, 8, 8);
        status_ = new QLabel(this);
        layout->addWidget(status_);
        energy_ = new WaveChart(this);
        range_ = new WaveChart(this);
        energy_->setObjectName("3011");
        range_->setObjectName("3010");
        layout->addWidget(energy_, 1);
        layout->addWidget(range_, 1);
        charts_ = std::make_unique<TargetCharts>(*energy_, *range_);
        charts_->SetParamSetting(&params_);
        // The charts take each report on the worker thread; the status follows on this one.
        events_.SetReportHook([this](const TargetReport& report) {
            charts_->AppendReport(report);
            reports_.fetch_add(1);
        });
        connect(&events_, &AcquisitionEventSink::reportArrived, this, [this] { ShowStatus(); }, Qt::QueuedConnection);
        connect(&events_, &AcquisitionEventSink::lineLost, this, [this] {
            Stop();
            status_->setText("The sensor's port has gone.");
        }, Qt::QueuedConnection);
    }

    ~ChartDemo() override { Stop(); }

    // Reads the sensor's parameters (the defaults stay when it does not answer),
    // sets the charts up and starts a live run. False when the run cannot start.
    bool Start(SensorSession& session, double uiScale) {
        uiScale_ = uiScale;
        if (!session.ReadParameters(params_))
            std::fprintf(stderr, "could not read the sensor's parameters; showing the default thresholds\n");

        charts_->SetupCharts(uiScale_);
        charts_->RefreshParams();
        claim_ = session.ClaimLine();
        worker_ = std::make_unique<CAcquisitionWorker>(&claim_.Line(), events_);
        charts_->SetBandSource(StateBandSourceOf(*worker_));
        ShowStatus();
        return worker_->Start() == ACQUISITION_STARTED;
    }

    void Stop() {
        if (worker_) worker_->Stop();
        claim_.Release();
    }

    WaveChart& Energy() { return *energy_; }
    WaveChart& Range() { return *range_; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        // The legend and the strips follow the plot, as the page's charts do on a resize.
        if (worker_) QTimer::singleShot(0, this, [this] { charts_->SetupCharts(uiScale_); });
    }

private:
    void ShowStatus() {
        const TargetReport report = worker_ ? worker_->LastReport() : TargetReport{};
        const char* state = report.state == TARGET_STATE_MOVING       ? "Presence"
                            : report.state == TARGET_STATE_MOTIONLESS ? "Presence(Motionless)"
                                                                      : "None";
        const double distance = report.state >= TARGET_STATE_MOVING ? report.distanceCm / 100.0 : 0.0;
        status_->setText(QString("Target Status: %1    Target Distance: %2 m    Reports: %3")
                             .arg(state)
                             .arg(distance, 0, 'f', 2)
                             .arg(reports_.load()));
    }

    QLabel* status_ = nullptr;
    WaveChart* energy_ = nullptr;
    WaveChart* range_ = nullptr;
    ParamSetting params_;
    double uiScale_ = 1.0;
    std::unique_ptr<TargetCharts> charts_;
    std::atomic<uint64_t> reports_{0};
    AcquisitionEventSink events_;  // before the worker: it emits through it until joined
    SensorSession::LineClaim claim_;  // the live run has the line to itself
    std::unique_ptr<CAcquisitionWorker> worker_;  // last: stopped before the charts go
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption port("port", "Read this serial port instead of the virtual sensor.", "path");
    QCommandLineOption baud("baud", "Baud rate of --port.", "rate", "115200");
    QCommandLineOption speed("speed", "Run the virtual sensor's scene this many times faster.", "factor", "1");
    QCommandLineOption scale("scale", "Layout scale of the charts.", "factor", "1");
    QCommandLineOption shot("screenshot", "Save PNG screenshots into this folder and exit.", "folder");
    QCommandLineOption seconds("seconds", "Seconds of data before the screenshots.", "seconds", "10");
    parser.addOptions({port, baud, speed, scale, shot, seconds});
    parser.process(app);

    std::unique_ptr<VirtualSensor> sensor;
    std::string path = parser.value(port).toStdString();
    if (path.empty()) {
        VirtualSensorOptions options;
        options.streamTimeScale = std::max(0.1, parser.value(speed).toDouble());
        sensor = std::make_unique<VirtualSensor>(options);
        std::string error;
        if (!sensor->Start(&error)) {
            std::fprintf(stderr, "virtual sensor: %s\n", error.c_str());
            return 1;
        }
        path = sensor->PortPath();
    }

    SensorSession session;
    const int baudRate = parser.value(baud).toInt();
    if (baudRate <= 0 || !session.Open(path, baudRate)) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }

    int result = 1;
    {
        ChartDemo demo;
        demo.resize(900, 800);
        demo.show();
        QApplication::processEvents();
        const double uiScale = parser.value(scale).toDouble();
        if (demo.Start(session, uiScale > 0 ? uiScale : 1.0)) {
            if (parser.isSet(shot)) {
                const QString folder = parser.value(shot);
                QDir().mkpath(folder);
                QTimer::singleShot(static_cast<int>(parser.value(seconds).toDouble() * 1000), &app, [&, folder] {
                    QApplication::processEvents();
                    const bool ok = demo.grab().save(QDir(folder).filePath("chart-demo.png")) &&
                                    demo.Energy().grab().save(QDir(folder).filePath("energy-chart.png")) &&
                                    demo.Range().grab().save(QDir(folder).filePath("range-chart.png"));
                    std::printf("%s screenshots in %s\n", ok ? "saved" : "could not save", qPrintable(folder));
                    app.exit(ok ? 0 : 1);
                });
            }
            result = app.exec();
        } else {
            std::fprintf(stderr, "cannot start reading %s\n", path.c_str());
        }
        demo.Stop();
    }
    // The worker is joined: the port may close.
    session.Close();
    if (sensor) sensor->Stop();
    return result;
}
