#include "app/widgets/ToolApplication.h"

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "monitor/widgets/TargetPage.h"
#include "common/DbgOutput.h"
#include "common/FileUtils.h"
#include "controls/widgets/MessageBox.h"
#include "controls/widgets/UiFont.h"
#include "upgrade/CurlLibrary.h"

namespace {

// Message boxes would wait for a user who is not there: their texts go to stderr.
// So do questions (a connect that finds the sensor in its bootloader asks one),
// answered as a user closing the box would.
void ReportMessagesOnStderr()
{
    SetMessageBoxHook([](const MessageBoxRecord& record) {
        std::fprintf(stderr, "%s: %s\n", record.caption.c_str(), record.text.c_str());
    });
    SetQuestionHook([](const QuestionRecord& question) {
        std::fprintf(stderr, "%s: %s\n", question.caption.c_str(), question.text.c_str());
        return question.escapeChoice;
    });
}

void TakeScreenshotOnceShown(MainWindow& window, const std::string& path, int delayMs)
{
    ReportMessagesOnStderr();
    QTimer::singleShot(0, &window, [&window, path, delayMs] {
        // Connecting waits for the sensor's replies (version, serial number, parameters);
        // not on a page that opens the port itself (Connect is disabled there).
        const auto* connect = window.findChild<QPushButton*>(QStringLiteral("1103"));
        if (window.PortNumber() > 0 && connect && connect->isEnabled())
            window.OnConnect();
        // The connection is made on the sensor thread: the delay counts from its end,
        // and lets a page's run show reports.
        auto* idle = new QTimer(&window);
        idle->setInterval(20);
        QObject::connect(idle, &QTimer::timeout, &window, [&window, idle, path, delayMs] {
            if (!window.SensorIdle())
                return;
            idle->stop();
            idle->deleteLater();
            QTimer::singleShot(std::max(0, delayMs), &window, [&window, path] {
                QApplication::processEvents();
                if (!window.grab().save(QString::fromStdString(path)))
                    std::fprintf(stderr, "palo520g-tool: cannot write %s\n", path.c_str());
                window.close();
            });
        });
        idle->start();
    });
}

}  // namespace

ToolApplication::ToolApplication() = default;

ToolApplication::~ToolApplication()
{
    for (const auto& translator : translators_)
        QCoreApplication::removeTranslator(translator.get());
}

std::string ToolApplication::LoadConfigurationAndLanguage(const AppOptions& options)
{
    if (!options.dataDir.empty())
        SetProgramPathOverride(options.dataDir);
    // Before the configuration is read from its new place.
    if (PlacesMove moved = MoveOldDataFolder(); !moved.items.empty())
        placesMove_ = std::move(moved);

    XMLNode appConfig = LoadAppConfig();
    const std::string localeName = ApplyConfiguredLanguage(appConfig);

    // Qt's own texts (dialog buttons, context menus) follow the same language.
    for (const auto& translator : translators_)
        QCoreApplication::removeTranslator(translator.get());
    translators_.clear();
    if (GetUiLanguage() == UiLanguage::SimplifiedChinese) {
        const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        for (const char* name : {"qtbase_zh_CN", "qt_zh_CN"}) {
            auto translator = std::make_unique<QTranslator>();
            if (translator->load(QString::fromLatin1(name), folder)) {
                QCoreApplication::installTranslator(translator.get());
                translators_.push_back(std::move(translator));
            }
        }
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    } else {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    QApplication::setFont(HeiFont(9));
    return localeName;
}

void ToolApplication::ReportPlacesMove(MainWindow& window) const
{
    std::string moved;
    std::string left;
    for (const PlacesMove::Item& item : placesMove_.items) {
        if (item.problem.empty())
            moved += "  " + item.from + " -> " + item.to + "\n";
        else
            left += "  " + item.from + ": " + item.problem + "\n";
    }
    if (moved.empty() && left.empty())
        return;
    std::string text;
    if (!moved.empty())
        text = FormatStringText(TEXT_PLACES_MOVED, moved.c_str());
    if (!left.empty())
        text += (text.empty() ? "" : "\n") + FormatStringText(TEXT_PLACES_NOT_MOVED, left.c_str());
    DbgOutputA(1, "%s\r\n", text.c_str());
    const MessageIcon icon = left.empty() ? MessageIcon::Information : MessageIcon::Warning;
    QTimer::singleShot(0, &window, [&window, text, icon] {
        ShowMessageBox(&window, text, LoadStringText(TEXT_NOTE), icon);
    });
}

int ToolApplication::InitInstance(const AppOptions& options)
{
    LoadConfigurationAndLanguage(options);

    // The network library serves the firmware download; the tool does not start without it.
    std::string why;
    if (!LoadCurl(&why)) {
        ShowMessageBox(nullptr, LoadStringText(TEXT_NETWORK_INIT_FAILED) + "\n\n" + why, LoadStringText(TEXT_ERROR),
                       MessageIcon::Error);
        return 1;
    }

    {
        MainWindow window(options.window);
        if (!options.startPage.empty())
            window.ShowPageNamed(options.startPage);
        if (!options.replayFile.empty()) {
            if (auto* target = window.FindPage<TargetPage>()) {
                window.ShowPage(target);
                target->ReplayFile(options.replayFile);
            }
        }
        if (!options.screenshotPath.empty())
            TakeScreenshotOnceShown(window, options.screenshotPath, options.screenshotDelayMs);
        ReportPlacesMove(window);
        window.exec();
    }

    UnloadCurl();
    return 0;
}
