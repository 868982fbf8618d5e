#pragma once
// Message boxes with a text and caption from the string table and an icon.
//
// A hook replaces the box: widget tests (and any caller that must not block)
// install one to record what would have been shown.

#include <functional>
#include <string>

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
