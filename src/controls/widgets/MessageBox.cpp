#include "controls/widgets/MessageBox.h"

#include <QMessageBox>
#include <QString>

namespace {
MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}
}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    MessageBoxHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, MessageIcon icon,
                    bool topmost)
{
    MessageBoxRecord record{text, caption, icon, topmost};
    if (Hook()) {
        Hook()(record);
        return;
    }
    QMessageBox::Icon qtIcon = QMessageBox::Information;
    if (icon == MessageIcon::Warning)
        qtIcon = QMessageBox::Warning;
    else if (icon == MessageIcon::Error)
        qtIcon = QMessageBox::Critical;
    QMessageBox box(qtIcon, QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok, parent);
    if (topmost)
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
}
