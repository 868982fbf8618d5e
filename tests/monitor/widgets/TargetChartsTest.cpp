#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <atomic>
#include <string>
#include <vector>

#include "../ReportStream.h"
#include "app/StringTable.h"
#include "app/XMLParser.h"
#include "chart/widgets/WaveChart.h"
#include "monitor/AcquisitionWorker.h"
#include "monitor/widgets/RangeChart.h"
#include "monitor/widgets/TargetCharts.h"
#include "params/ParamSetting.h"
#include "support/TempDir.h"

namespace {

// Both charts 690 x 324: a 50-pixel left strip and a 24-pixel bottom strip leave a
// 640 x 300 plot at (50, 0).
constexpr int WIDTH = 690;
constexpr int HEIGHT = 324;
constexpr int PLOT_LEFT = 50;
constexpr int PLOT_WIDTH = 640;
constexpr int PLOT_HEIGHT = 300;

QImage Grab(WaveChart& wnd) {
    QApplication::processEvents();
    return wnd.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool Near(QRgb a, QRgb b, int tolerance = 3) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Rows of the column whose pixel is the colour (anti-aliased edge rows not counted).
int RowsOf(const QImage& image, int x, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) n += Near(image.pixel(x, y), colour, 8);
    return n;
}

void MoveMouse(QWidget& w, QPoint p) {
    QMouseEvent move(QEvent::MouseMove, QPointF(p), w.mapToGlobal(QPointF(p)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&w, &move);
}

// The value's pixel row in a plot of PLOT_HEIGHT rows showing min .. max.
int RowOf(double value, double min, double max) {
    return static_cast<int>(std::lround(PLOT_HEIGHT + PLOT_HEIGHT * min / (max - min) - PLOT_HEIGHT * value / (max - min)));
}

class TargetChartsTest : public ::testing::Test {
protected:
    TargetChartsTest() : charts(energy, range) {
        SetUiLanguage(UiLanguage::English);
        for (WaveChart* wnd : {&energy, &range}) {
            wnd->resize(WIDTH, HEIGHT);
            wnd->show();
        }
        charts.SetParamSetting(&params);
    }

    void Setup(double uiScale = 1.0) {
        charts.SetupCharts(uiScale);
        charts.RefreshParams();
    }

    static TargetReport Report(int state, int distanceCm, double energyDb = 0) {
        TargetReport r;
        r.state = state;
        r.distanceCm = distanceCm;
        for (double& e : r.gateEnergyDb) e = energyDb;
        return r;
    }

    ParamSetting params;
    WaveChart energy;
    WaveChart range;
    TargetCharts charts;
};

TEST_F(TargetChartsTest, FirstDisplayShowsTheRecordsThresholdsOverAZeroCurveAndABlackBand) {
    for (uint32_t& t : params.GateTriggerThreshold) t = 80;
    for (uint32_t& t : params.GateHoldThreshold) t = 20;
    Setup();
    ASSERT_EQ(energy.PlotRect(), (ChartRect{PLOT_LEFT, 0, PLOT_LEFT + PLOT_WIDTH, PLOT_HEIGHT}));
    const QImage e = Grab(energy);
    const int x = PLOT_LEFT + 150;
    EXPECT_TRUE(Near(e.pixel(x, RowOf(80, 0, 100)), 0xFF0000)) << std::hex << e.pixel(x, RowOf(80, 0, 100));
    EXPECT_TRUE(Near(e.pixel(x, RowOf(20, 0, 100)), 0xFFFF00)) << std::hex << e.pixel(x, RowOf(20, 0, 100));
    // The energy curve lies at 0 dB, held inside the plot by its pen width.
    EXPECT_TRUE(Near(e.pixel(x, PLOT_HEIGHT - 4), 0x00FF00)) << std::hex << e.pixel(x, PLOT_HEIGHT - 4);
    // The default line width of 5: four whole rows and two anti-aliased halves.
    const int lineRows = RowsOf(e, x, 0xFF0000);
    EXPECT_GE(lineRows, 4);
    EXPECT_LE(lineRows, 5);

    const QImage r = Grab(range);
    for (int column : {0, PLOT_WIDTH / 2, PLOT_WIDTH - 1})
        EXPECT_EQ(r.pixel(PLOT_LEFT + column, 40) & 0xFFFFFF, 0u) << column;
    EXPECT_DOUBLE_EQ(range.ViewMax(), 8.4);
}

TEST_F(TargetChartsTest, GatesBeyondTheDetectionRangeAreShaded) {
    Setup();
    // An empty row of the plot: no curve, no text.
    const int row = 150;
    struct Case {
        double max;
        int firstGate;
    } cases[] = {{8.4, 13}, {4.2, 7}, {5.6, 9}, {0.7, 2}};
    const QRgb shade = qRgb(0xC3 * 0xBF / 255, 0xC3 * 0xBF / 255, 0xC3 * 0xBF / 255);  // 0xBFC3C3C3 over black
    for (const auto& c : cases) {
        params.DetectRangeMax = c.max;
        energy.update();
        const QImage e = Grab(energy);
        const int x0 = PLOT_LEFT + c.firstGate * PLOT_WIDTH / 16;
        EXPECT_EQ(e.pixel(x0 - 1, row) & 0xFFFFFF, 0u) << c.max;
        EXPECT_TRUE(Near(e.pixel(x0, row), shade)) << c.max << " " << std::hex << e.pixel(x0, row);
        EXPECT_TRUE(Near(e.pixel(PLOT_LEFT + PLOT_WIDTH - 1, row), shade)) << c.max;
    }

    // The colour comes from the settings; a resolution of 0 shades nothing.
    charts.settings.EnergyWaveWnd_InactiveColor = 0xFF0000FF;
    params.DetectRangeMax = 8.4;
    Setup();
    EXPECT_TRUE(Near(Grab(energy).pixel(PLOT_LEFT + 13 * 40, row), 0x0000FF));
    params.RangeResolution = 0;
    energy.update();
    EXPECT_EQ(Grab(energy).pixel(PLOT_LEFT + PLOT_WIDTH - 1, row) & 0xFFFFFF, 0u);
}

// Colours read from a configuration file look as they always did: the file keeps
// the energy plot's colour with red in the low byte and the band's as 0xAARRGGBB.
TEST_F(TargetChartsTest, StoredColoursKeepTheirOnScreenColour) {
    struct Case {
        const char* active;  // EnergyWaveWnd_ActiveColor as stored
        const char* motion;  // DistanceWaveWnd_MotionColor as stored
        QRgb plot;           // an empty spot of the energy plot
        QRgb band;           // the band of a moving target
    } cases[] = {
        {"0xff000000", "0xfffc5d45", 0x000000, 0xFC5D45},  // the defaults
        {"0xff602010", "0xff102060", 0x102060, 0x102060},
        {"0xff0000ff", "0xff0000ff", 0xFF0000, 0x0000FF},  // one number, two meanings
        {"0x00602010", "0xff336699", 0x102060, 0x336699},  // the plot is opaque whatever the alpha byte says
    };
    StateHistory moving;
    moving.fill(TARGET_STATE_MOVING);
    for (const auto& c : cases) {
        XMLParser doc;
        const std::string xml = std::string(R"(<AppConfig><ObjectInfo EnergyWaveWnd_ActiveColor=")") + c.active +
                                R"(" DistanceWaveWnd_MotionColor=")" + c.motion + R"("/></AppConfig>)";
        doc.LoadBuffer(xml.data(), xml.size());
        XMLNode objectInfo = doc.FindElement("AppConfig").FindChild("ObjectInfo");
        LoadTargetChartSettings(objectInfo, charts.settings);
        Setup();
        charts.Band().SetHistory(moving);
        range.MarkBackgroundDirty();
        EXPECT_EQ(Grab(energy).pixel(PLOT_LEFT + 200, 150) & 0xFFFFFF, c.plot) << c.active;
        EXPECT_EQ(Grab(range).pixel(PLOT_LEFT + 80, 40) & 0xFFFFFF, c.band) << c.motion;
        SaveTargetChartSettings(objectInfo, charts.settings);
        EXPECT_EQ(objectInfo.GetAttributeText("EnergyWaveWnd_ActiveColor"), c.active) << "saved as it was stored";
    }
}

// Forwards the worker's reports to the charts, as the page's sink does.
class ChartSink : public IAcquisitionSink {
public:
    explicit ChartSink(TargetCharts& charts) : charts_(charts) {}
    void OnNewReport(const TargetReport& report) override { charts_.AppendReport(report); }
    void OnReplayEnd() override { ended.store(true); }
    void OnDeviceLost() override {}
    std::atomic<bool> ended{false};

private:
    TargetCharts& charts_;
};

TEST_F(TargetChartsTest, ReportsFromTheWorkerFillBothChartsAndTheBandInTheSettingsColours) {
    charts.settings.DistanceWaveWnd_NobodyColor = 0xFF112233;
    charts.settings.DistanceWaveWnd_MotionColor = 0xFF445566;
    charts.settings.DistanceWaveWnd_MotionlessColor = 0xFF778899;
    Setup();

    // 60 reports of each of states 0, 2 and 3, then one unknown state 7: the history
    // holds 59 entries without a report first.
    Bytes stream;
    for (uint8_t state : {0, 2, 3})
        for (int i = 0; i < 60; ++i) stream = Join({stream, ReportFrame(state, 250, 1000)});
    stream = Join({stream, ReportFrame(7, 250, 1000)});
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("run.dat"), std::string(stream.begin(), stream.end())));

    ChartSink sink(charts);
    SensorLine device;  // never opened: a replay
    {
        CAcquisitionWorker worker(&device, sink);
        charts.SetBandSource(StateBandSourceOf(worker));
        worker.replayMode = 1;
        worker.replayInterval = 0;
        worker.lastReplayFile = dir.File("run.dat");
        ASSERT_EQ(worker.Start(), ACQUISITION_STARTED);
        QElapsedTimer clock;
        clock.start();
        while (!sink.ended.load() && clock.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_TRUE(sink.ended.load());
        worker.Stop();

        // Column x of the 640-column band shows entry nearest(x * 240 / 640).
        const QImage r = Grab(range);
        const int row = 40;
        struct Case {
            int column;
            QRgb colour;
        } cases[] = {{80, 0x000000}, {240, 0x112233}, {400, 0x445566}, {560, 0x778899}, {PLOT_WIDTH - 1, 0x778899}};
        for (const auto& c : cases)
            EXPECT_EQ(r.pixel(PLOT_LEFT + c.column, row) & 0xFFFFFF, c.colour)
                << "column " << c.column << " " << std::hex << r.pixel(PLOT_LEFT + c.column, row);
        // The band is 50 rows high.
        EXPECT_EQ(r.pixel(PLOT_LEFT + 400, 49) & 0xFFFFFF, 0x445566u);
        EXPECT_EQ(r.pixel(PLOT_LEFT + 400, 51) & 0xFFFFFF, 0u);
        // The newest distance, 2.5 m, at the right end of the range curve.
        EXPECT_TRUE(Near(r.pixel(PLOT_LEFT + PLOT_WIDTH - 3, RowOf(2.5, 0, 8.4)), 0xFF0000));

        const std::vector<double> energies = energy.WaveBuffer(0).GetValues();
        ASSERT_EQ(energies.size(), 32u);
        EXPECT_NEAR(energies.back(), 20.0, 1e-9);  // raw 1015: 20 * log10(10)
        EXPECT_DOUBLE_EQ(range.WaveBuffer(0).GetValues().back(), 2.5);

        // A new scale re-renders the background with no report since: the band stays,
        // the energy curve is cleared, the range curve is kept.
        charts.SetupCharts(1.0);
        const QImage again = Grab(range);
        EXPECT_EQ(again.pixel(PLOT_LEFT + 400, row) & 0xFFFFFF, 0x445566u);
        EXPECT_DOUBLE_EQ(energy.WaveBuffer(0).GetValues().back(), 0.0);
        EXPECT_DOUBLE_EQ(energy.WaveBuffer(1).GetValues().back(), params.GateTriggerThreshold[15]);
        EXPECT_DOUBLE_EQ(range.WaveBuffer(0).GetValues().back(), 2.5);
        charts.SetBandSource({});
    }
}

TEST_F(TargetChartsTest, LayoutScaleMultipliesStripsBandAndLines) {
    Setup(2.0);
    EXPECT_EQ(range.PlotRect(), (ChartRect{100, 0, WIDTH, HEIGHT - 48}));
    StateHistory history;
    history.fill(TARGET_STATE_MOVING);
    charts.Band().SetHistory(history);
    range.MarkBackgroundDirty();
    const QImage r = Grab(range);
    EXPECT_EQ(r.pixel(300, 99) & 0xFFFFFF, 0xFC5D45u);
    EXPECT_EQ(r.pixel(300, 101) & 0xFFFFFF, 0u);
    const int lineRows = RowsOf(Grab(energy), 300, 0xFF0000);  // a line width of 10
    EXPECT_GE(lineRows, 9);
    EXPECT_LE(lineRows, 10);
}

TEST_F(TargetChartsTest, RefreshParamsFollowsANewRecord) {
    Setup();
    charts.AppendReport(Report(2, 300, 40));
    for (uint32_t& t : params.GateTriggerThreshold) t = 70;
    params.DetectRangeMin = 1.0;
    params.DetectRangeMax = 5.6;
    charts.RefreshParams();
    const QImage e = Grab(energy);
    EXPECT_TRUE(Near(e.pixel(PLOT_LEFT + 150, RowOf(70, 0, 100)), 0xFF0000));
    EXPECT_DOUBLE_EQ(energy.WaveBuffer(0).GetValues().back(), 0.0) << "the energy curve drops to 0 dB";
    EXPECT_DOUBLE_EQ(range.ViewMin(), 1.0);
    EXPECT_DOUBLE_EQ(range.ViewMax(), 5.6);
    EXPECT_DOUBLE_EQ(range.WaveBuffer(0).GetValues().back(), 3.0);
}

TEST_F(TargetChartsTest, TooltipsNameTheGateOrTheTimeAndTheValue) {
    for (uint32_t& t : params.GateTriggerThreshold) t = 80;
    Setup();
    Grab(energy);
    // Gate 5's point sits at column nearest(5 * 639 / 15) = 213, on the trigger line.
    MoveMouse(energy, {PLOT_LEFT + 213, RowOf(80, 0, 100)});
    EXPECT_EQ(energy.TooltipText().toStdString(), "RG No.5 Trigger Energy: 80.0 dB");
    MoveMouse(energy, {PLOT_LEFT + 639, PLOT_HEIGHT - 2});
    EXPECT_EQ(energy.TooltipText().toStdString(), "RG No.15 Target Energy: 0.0 dB");

    charts.AppendReport(Report(2, 250));
    Grab(range);
    MoveMouse(range, {PLOT_LEFT + PLOT_WIDTH - 1, RowOf(2.5, 0, 8.4)});
    EXPECT_EQ(range.TooltipText().toStdString(), "No. 0.2s Range: 2.5 m");
    MoveMouse(range, {PLOT_LEFT, PLOT_HEIGHT - 2});
    EXPECT_EQ(range.TooltipText().toStdString(), "No. 60.0s Range: 0.0 m");
}

// The state band is painted into the range chart's background: a report redraws it
// while the band can still change, and not once every entry holds the same state.
TEST(RangeChartBand, IsPaintedAgainOnlyWhileTheStatesInItDiffer) {
    struct CountingBand : IWaveChartDrawListener {
        int backgrounds = 0;
        void OnDrawBackground(const WaveWndSurface&, const ChartRect&, uint64_t) override { ++backgrounds; }
    } band;
    WaveChart wnd;
    wnd.resize(WIDTH, HEIGHT);
    RangeChart chart(wnd);
    chart.Setup(TargetChartSettings{}, 1.0, ParamSetting{}, &band, nullptr);
    QImage target(WIDTH, HEIGHT, QImage::Format_RGB32);
    // Appends the reports and paints once; how many background renders that took.
    const auto renders = [&](int state, int count) {
        for (int i = 0; i < count; ++i) {
            TargetReport report;
            report.state = state;
            report.distanceCm = 100 + i % 50;
            chart.AppendReport(report);
        }
        const int before = band.backgrounds;
        QPainter painter(&target);
        wnd.Paint(painter);
        return band.backgrounds - before;
    };
    chart.Clear();
    struct Step {
        int state;
        int count;
        int renders;
    } steps[] = {
        {TARGET_STATE_MOVING, 1, 1},
        {TARGET_STATE_MOVING, STATE_HISTORY_LENGTH - 1, 1},  // the last entry of another state scrolls out
        {TARGET_STATE_MOVING, 1, 0},
        {TARGET_STATE_MOVING, 500, 0},
        {TARGET_STATE_MOTIONLESS, 1, 1},
        {TARGET_STATE_MOVING, 1, 1},
        {TARGET_STATE_MOVING, STATE_HISTORY_LENGTH - 1, 1},
        {TARGET_STATE_MOVING, 1, 0},
    };
    for (size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(renders(steps[i].state, steps[i].count), steps[i].renders) << "step " << i;
    // A cleared chart starts from an empty band.
    chart.Clear();
    EXPECT_EQ(renders(TARGET_STATE_MOVING, 1), 1);
}

}  // namespace
