#include <gtest/gtest.h>

#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <cmath>

#include "device/RadarDevice.h"
#include "params/ParamSetting.h"
#include "params/RadarOperatorConfig.h"
#include "support/SimulatedSensor.h"
#include "support/TempDir.h"

namespace {

const QString PROGRAM = QStringLiteral(PALO_BINARY_DIR "/palo520g-chart-demo");

// Runs the demo on the offscreen platform until it has saved its screenshots into dir.
void RunDemo(const QStringList& arguments, const TempDir& dir) {
    QProcess demo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    demo.setProcessEnvironment(env);
    demo.start(PROGRAM, arguments + QStringList{"--screenshot", QString::fromStdString(dir.Path())});
    ASSERT_TRUE(demo.waitForFinished(30000)) << demo.readAllStandardError().toStdString();
    ASSERT_EQ(demo.exitCode(), 0) << demo.readAllStandardError().toStdString();
}

bool IsRed(QRgb p) { return qRed(p) > 200 && qGreen(p) < 80 && qBlue(p) < 80; }

}  // namespace

// End to end: the demonstration program reads the virtual sensor's report stream
// through the device library, the acquisition worker and the frame scanner and draws it.
TEST(ChartDemo, ChartsShowTheSimulatorsReports) {
    if (!QFileInfo::exists(PROGRAM)) GTEST_SKIP() << "palo520g-chart-demo is not built";
    TempDir dir;
    RunDemo({"--speed", "4", "--seconds", "3"}, dir);

    const QImage energy(QString::fromStdString(dir.File("energy-chart.png")));
    ASSERT_FALSE(energy.isNull());
    // Before any report the energy curve lies at 0 dB on the plot's bottom rows; the
    // empty room's energies (tens of dB) lift it well above them.
    int greenAbove = 0;
    for (int y = 0; y < energy.height() - 60; ++y)
        for (int x = 60; x < energy.width() / 2; ++x) {
            const QRgb p = energy.pixel(x, y);
            greenAbove += qGreen(p) > 200 && qRed(p) < 80 && qBlue(p) < 80;
        }
    EXPECT_GT(greenAbove, 50);

    // The range chart's state band has turned from black (no report) to a state colour.
    const QImage range(QString::fromStdString(dir.File("range-chart.png")));
    ASSERT_FALSE(range.isNull());
    const QRgb newest = range.pixel(range.width() - 5, 30);
    EXPECT_NE(newest & 0xFFFFFF, 0u);
}

// With --port the demo reads a sensor it did not start, and draws the thresholds and
// the detection range that sensor holds.
TEST(ChartDemo, PortShowsThatSensorsThresholdsAndRange) {
    if (!QFileInfo::exists(PROGRAM)) GTEST_SKIP() << "palo520g-chart-demo is not built";
    VirtualSensorOptions options;
    options.streamTimeScale = 4;
    SimulatedSensor sensor;
    ASSERT_TRUE(sensor.StartAndOpen(options, OpenMode::CommandMode, 115200));
    ParamSetting setting;
    setting.DetectRangeMax = 5.6;  // 8 gates: the shading starts at gate 9
    for (uint32_t& t : setting.GateTriggerThreshold) t = 90;
    EXPECT_EQ(WriteAllParams(sensor.Line(), setting), OPERATOR_OK);
    sensor.Line().StopCmdMode();
    sensor.CloseDevice();  // the demo opens the port itself
    TempDir dir;
    RunDemo({"--port", QString::fromStdString(sensor->PortPath()), "--seconds", "2"}, dir);
    sensor.Stop();

    const QImage energy(QString::fromStdString(dir.File("energy-chart.png")));
    ASSERT_FALSE(energy.isNull());
    // The plot starts after the 50-pixel left strip and ends above the 24-pixel bottom strip.
    const int plotWidth = energy.width() - 50;
    const int plotHeight = energy.height() - 24;
    const int triggerRow = static_cast<int>(std::lround(plotHeight * 0.1));  // 90 of 0 .. 100 dB
    EXPECT_TRUE(IsRed(energy.pixel(50 + plotWidth / 4, triggerRow))) << std::hex << energy.pixel(50 + plotWidth / 4, triggerRow);

    // Left of gate 9 the plot shows black background; right of it nothing is black any more.
    const int x0 = 50 + static_cast<int>(9 * (plotWidth * 0.0625));
    int blackLeft = 0, blackRight = 0;
    for (int y = 0; y < plotHeight; ++y) {
        blackLeft += (energy.pixel(x0 - 3, y) & 0xFFFFFF) == 0;
        blackRight += (energy.pixel(x0 + 3, y) & 0xFFFFFF) == 0;
    }
    EXPECT_GT(blackLeft, plotHeight / 2);
    EXPECT_EQ(blackRight, 0);
}
