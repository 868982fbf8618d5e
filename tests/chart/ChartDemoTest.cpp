#include <gtest/gtest.h>

#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include "support/TempDir.h"

// End to end: the demonstration program reads the virtual sensor's report stream
// through the device library and the frame scanner and draws it.
TEST(ChartDemo, ChartsShowTheSimulatorsReports) {
    const QString program = QStringLiteral(PALO_BINARY_DIR "/palo520g-chart-demo");
    if (!QFileInfo::exists(program)) GTEST_SKIP() << "palo520g-chart-demo is not built";
    TempDir dir;
    QProcess demo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    demo.setProcessEnvironment(env);
    demo.start(program, {"--speed", "4", "--seconds", "3", "--screenshot", QString::fromStdString(dir.Path())});
    ASSERT_TRUE(demo.waitForFinished(30000)) << demo.readAllStandardError().toStdString();
    ASSERT_EQ(demo.exitCode(), 0) << demo.readAllStandardError().toStdString();

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
