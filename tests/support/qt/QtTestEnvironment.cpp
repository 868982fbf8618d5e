#include "support/qt/QtTestEnvironment.h"

#include <clocale>

#include <gtest/gtest.h>
#include <QTest>

namespace {

// The offscreen platform warns about every window mask and raise; those lines
// would bury the test output.
QtMessageHandler gPreviousHandler = nullptr;

void QuietMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    if (gPreviousHandler)
        gPreviousHandler(type, context, message);
}

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
        static int argc = 1;
        static char name[] = "palo520g_tests";
        static char* argv[] = {name, nullptr};
        gPreviousHandler = qInstallMessageHandler(QuietMessageHandler);
        app_ = new QApplication(argc, argv);
        // Numbers in the configuration and the edits always use a decimal point.
        std::setlocale(LC_NUMERIC, "C");
    }
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const gQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

bool ShowAndActivate(QWidget* window)
{
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window, 2000);
}

bool FocusWidget(QWidget* widget)
{
    widget->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    return widget->hasFocus();
}

void TypeText(QWidget* widget, const QString& text)
{
    for (QChar c : text)
        QTest::keyClick(widget, c.toLatin1());
}
