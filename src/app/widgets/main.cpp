// palo520g-tool: the windowed configuration tool for the Palo520G sensor.

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include <QApplication>
#include <QCommandLineParser>

#include "app/StringTable.h"
#include "app/widgets/ToolApplication.h"
#include "app/widgets/ToolPages.h"
#include "common/DbgOutput.h"
#include "sim/VirtualSensor.h"

namespace {

// -v: the run's log lines on standard error as well.
void LogToStderr(void* /*context*/, uint64_t /*reserved*/, const char* text, size_t length)
{
    std::fwrite(text, 1, length, stderr);
}

// "params, target or firmware": the page names, as --page takes them.
QString PageNamesText()
{
    QStringList names;
    for (const ToolPageSpec& spec : ToolPageSpecs())
        names.push_back(QString::fromStdString(spec.name));
    const QString last = names.isEmpty() ? QString() : names.takeLast();
    return names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

// True when the command line asks only for the help or the version text (before a
// "--" that ends the options).
bool AsksForHelpOrVersion(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            return false;
        if (arg == "-h" || arg == "--help" || arg == "-?" || arg == "--help-all" || arg == "--version")
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    // A file size limit (ulimit -f) would otherwise kill the tool in the middle of a
    // recording; ignored, the write fails with EFBIG and the recording stops with its reason.
    std::signal(SIGXFSZ, SIG_IGN);
    // Help and version need no display: printed by a plain core application, they
    // work over ssh, in scripts and for help2man, where a window system would be
    // missing and the start of the GUI would abort.
    std::unique_ptr<QCoreApplication> application;
    if (AsksForHelpOrVersion(argc, argv))
        application = std::make_unique<QCoreApplication>(argc, argv);
    else
        application = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("palo520g-tool"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(PaloVersionText()));
    // Numbers in the configuration file and the edits always use a decimal point,
    // whatever the user's locale (Qt set the process locale from the environment).
    std::setlocale(LC_NUMERIC, "C");

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sets up a Palo520G radar presence sensor over a serial port."));
    parser.addHelpOption();
    // -v is --verbose, as in palo520g; the version has only its long name.
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Displays version information."));
    const QCommandLineOption verboseOption(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                           QStringLiteral("Also print the log lines on standard error."));
    parser.addOption(versionOption);
    parser.addOption(verboseOption);
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
                                        QStringLiteral("Start on page NAME: %1.").arg(PageNamesText()),
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
    parser.process(*application);
    if (parser.isSet(versionOption)) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    // Help ends in process(); "-h" taken as the value of an option lands here.
    if (!qobject_cast<QApplication*>(application.get())) {
        std::fprintf(stderr, "palo520g-tool: -h and -? stand for --help; use --OPTION=VALUE for such a value\n");
        return 2;
    }
    if (parser.isSet(verboseOption))
        DbgOutputAddCallback(LogToStderr, nullptr);

    AppOptions options;
    options.dataDir = parser.value(dataDirOption).toStdString();
    if (parser.isSet(pageOption)) {
        const QString page = parser.value(pageOption);
        options.startPage = page.toStdString();
        const std::vector<ToolPageSpec> pages = ToolPageSpecs();
        if (std::none_of(pages.begin(), pages.end(),
                         [&](const ToolPageSpec& spec) { return spec.name == options.startPage; })) {
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

    ToolApplication app;
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
