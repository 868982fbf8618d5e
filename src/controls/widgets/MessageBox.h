#pragma once
// Message boxes with a text and caption from the string table and an icon.
//
// A hook replaces the box: widget tests (and any caller that must not block)
// install one to record what would have been shown.

#include <functional>
#include <string>
#include <vector>

class QWidget;

enum class MessageIcon { Information, Warning, Error };

struct MessageBoxRecord {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::Information;
    bool topmost = false;
};

using MessageBoxHook = std::function<void(const MessageBoxRecord&)>;

// Installs the hook (an empty function restores real boxes); returns the previous one.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// Shows a modal box with an OK button, or hands the record to the hook.
void ShowMessageBox(QWidget* parent, const std::string& text, const std::string& caption, MessageIcon icon,
                    bool topmost = false);

// A question with one button per choice, the default one first in focus.
struct QuestionRecord {
    std::string text;
    std::string caption;
    std::vector<std::string> choices;  // button texts, left to right
    int defaultChoice = 0;             // chosen by Enter
    int escapeChoice = 0;              // chosen by Escape or the close box
};

// Returns the index of the chosen choice. Widget tests answer through it.
using QuestionHook = std::function<int(const QuestionRecord&)>;

// Installs the hook (an empty function restores real boxes); returns the previous one.
QuestionHook SetQuestionHook(QuestionHook hook);

// Asks modally (or the hook) and returns the index of the choice taken.
int AskQuestion(QWidget* parent, const QuestionRecord& question);
