#include "controls/widgets/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>
#include <QString>

namespace {
MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}
QuestionHook& AskHook()
{
    static QuestionHook hook;
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

QuestionHook SetQuestionHook(QuestionHook hook)
{
    QuestionHook previous = std::move(AskHook());
    AskHook() = std::move(hook);
    return previous;
}

int AskQuestion(QWidget* parent, const QuestionRecord& question)
{
    if (AskHook())
        return AskHook()(question);
    QMessageBox box(QMessageBox::Question, QString::fromStdString(question.caption),
                    QString::fromStdString(question.text), QMessageBox::NoButton, parent);
    std::vector<QPushButton*> buttons;
    for (const std::string& choice : question.choices)
        buttons.push_back(box.addButton(QString::fromStdString(choice), QMessageBox::ActionRole));
    const auto valid = [&](int index) { return index >= 0 && index < static_cast<int>(buttons.size()); };
    if (valid(question.defaultChoice))
        box.setDefaultButton(buttons[static_cast<size_t>(question.defaultChoice)]);
    if (valid(question.escapeChoice))
        box.setEscapeButton(buttons[static_cast<size_t>(question.escapeChoice)]);
    box.exec();
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i])
            return static_cast<int>(i);
    }
    return question.escapeChoice;
}
