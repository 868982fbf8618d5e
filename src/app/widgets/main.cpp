// palo520g-tool: the windowed configuration tool for the Palo520G sensor.

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>

#include <QApplication>
#include <QCommandLineParser>

#include "app/StringTable.h"
#include "app/widgets/CTAVO_Palo520G_ToolApp.h"
#include "sim/VirtualSensor.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("palo520g-tool"));
    QApplication::setApplicationVersion(QString::fromLatin1(PaloVersionText()));
    // Numbers in the configuration file and the edits always use a decimal point,
    // whatever the user's locale (Qt set the process locale from the environment).
    std::setlocale(LC_NUMERIC, "C");

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sets up a Palo520G radar presence sensor over a serial port."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataDirOption(QStringLiteral("data-dir"),
                                           QStringLiteral("Keep appConfig.xml, Log and SaveData in DIR."),
                                           QStringLiteral("DIR"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Add the serial port PATH to the port list and select it."),
                                        QStringLiteral("PATH"));
    const QCommandLineOption demoOption(QStringLiteral("demo"),
                                        QStringLiteral("Run a virtual sensor in the tool and select its port."));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        QStringLiteral("Connect to the selected port, save a picture of the window to FILE and end."),
        QStringLiteral("FILE"));
    const QCommandLineOption pageOption(QStringLiteral("page"),
                                        QStringLiteral("Show this page at start: params, target or firmware."),
                                        QStringLiteral("NAME"));
    const QCommandLineOption delayOption(QStringLiteral("screenshot-delay-ms"),
                                         QStringLiteral("Take the --screenshot picture N ms after connecting (default 0: at once)."),
                                         QStringLiteral("N"));
    const QCommandLineOption replayOption(QStringLiteral("replay"),
                                          QStringLiteral("Show the target page and replay the record FILE."),
                                          QStringLiteral("FILE"));
    parser.addOption(replayOption);
    parser.addOption(dataDirOption);
    parser.addOption(pageOption);
    parser.addOption(delayOption);
    parser.addOption(screenshotOption);
    parser.addOption(portOption);
    parser.addOption(demoOption);
    parser.process(application);

    AppOptions options;
    options.dataDir = parser.value(dataDirOption).toStdString();
    if (parser.isSet(pageOption)) {
        const QString page = parser.value(pageOption);
        options.startPage = page == QLatin1String("params")   ? 1187
                            : page == QLatin1String("target")   ? 1188
                            : page == QLatin1String("firmware") ? 1189
                                                                : -1;
        if (options.startPage < 0) {
            std::fprintf(stderr, "palo520g-tool: --page takes params, target or firmware, not %s\n", qPrintable(page));
            return 2;
        }
    }
    options.replayFile = parser.value(replayOption).toStdString();
    if (parser.isSet(delayOption)) {
        bool ok = false;
        options.screenshotDelayMs = parser.value(delayOption).toInt(&ok);
        if (!ok || options.screenshotDelayMs < 0) {
            std::fprintf(stderr, "palo520g-tool: --screenshot-delay-ms takes a whole number of 0 or more\n");
            return 2;
        }
    }
    options.screenshotPath = parser.value(screenshotOption).toStdString();
    for (const QString& path : parser.values(portOption)) {
        options.window.extraPortPaths.push_back(path.toStdString());
        options.window.selectPortPath = path.toStdString();
    }

    CTAVO_Palo520G_ToolApp app;
    std::unique_ptr<VirtualSensor> sensor;
    if (parser.isSet(demoOption)) {
        // The language decides the demo title, so the configuration comes first.
        app.LoadConfigurationAndLanguage(options);
        sensor = std::make_unique<VirtualSensor>();
        std::string error;
        if (!sensor->Start(&error)) {
            std::fprintf(stderr, "palo520g-tool: the virtual sensor did not start: %s\n", error.c_str());
            return 1;
        }
        const std::string path = sensor->PortPath();
        options.window.extraPortPaths.push_back(path);
        options.window.selectPortPath = path;
        options.window.titleSuffix = FormatStringText(TEXT_DEMO_SENSOR_ON, path.c_str());
    }

    const int result = app.InitInstance(options);
    if (sensor)
        sensor->Stop();
    return result;
}
