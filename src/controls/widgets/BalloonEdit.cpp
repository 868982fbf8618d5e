#include "controls/widgets/BalloonEdit.h"

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPalette>

#include "controls/widgets/BalloonTip.h"

namespace {

// Stands for an editing key that changed the text without producing a character
// (Delete, or a clipboard shortcut on platforms that give it no text).
const QChar EDITING_KEY(0x7F);

bool IsEnterOrTab(const QKeyEvent* key)
{
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return true;
    default:
        return false;
    }
}

}  // namespace

BalloonEdit::BalloonEdit(QWidget* parent) : QLineEdit(parent)
{
    // Black on white while editable; disabled and read-only edits keep the style's colours.
    QPalette pal = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Base, Qt::white);
        pal.setColor(group, QPalette::Text, Qt::black);
    }
    setPalette(pal);
    connect(this, &QLineEdit::textChanged, this, &BalloonEdit::OnTextChanged);
}

BalloonEdit::~BalloonEdit()
{
    delete balloon_.data();
}

BalloonTip* BalloonEdit::Balloon() const
{
    return balloon_.data();
}

void BalloonEdit::ShowBalloonTip(const std::string& title, const std::string& text, int icon, int key)
{
    if (!balloon_)
        balloon_ = BalloonTip::CreateBalloon(this);
    if (!balloon_)
        return;
    QPoint anchor = mapToGlobal(QPoint(0, height()));
    anchor.ry() -= 2;
    balloon_->ShowBalloon(title, text, icon, anchor, key);
}

bool BalloonEdit::CheckInputChar(QChar, int, int)
{
    return true;
}

bool BalloonEdit::OnEditChange()
{
    return false;
}

bool BalloonEdit::CheckInputValue()
{
    return true;
}

void BalloonEdit::Commit()
{
    if (CommitOnlyIfChanged == 1 && ChangePending == 0)
        return;
    ChangePending = 0;
    if (!CheckInputValue())
        return;
    SuppressNotify = 0;
    NotifyOwner();
    SuppressNotify = DeferNotify;
}

void BalloonEdit::NotifyOwner()
{
    emit editChanged();
}

void BalloonEdit::OnTextChanged()
{
    if (SuppressNotify == 1)
        return;
    if (!OnEditChange())
        NotifyOwner();
}

bool BalloonEdit::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsEnterOrTab(key)) {
            // Enter and Tab move on to the next control, which commits the value;
            // they never reach the dialog's default button.
            focusNextPrevChild(true);
            if (hasFocus())
                Commit();
            event->accept();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void BalloonEdit::keyPressEvent(QKeyEvent* event)
{
    const QString before = text();
    const int cursorBefore = cursorPosition();
    SuppressNotify = 1;
    QLineEdit::keyPressEvent(event);

    const QString typed = event->text();
    QChar character;
    // Escape belongs to the dialog around the edit: it is never a typed character.
    if (!typed.isEmpty() && event->key() != Qt::Key_Escape)
        character = typed.at(0);
    else if (text() != before)
        character = EDITING_KEY;
    if (character.isNull()) {
        // No character and no change (arrows, Home, selection): nothing to check.
        SuppressNotify = DeferNotify;
        return;
    }
    AfterCharacter(before, cursorBefore, character, event->isAutoRepeat() ? 2 : 1);
}

void BalloonEdit::inputMethodEvent(QInputMethodEvent* event)
{
    const QString before = text();
    const int cursorBefore = cursorPosition();
    SuppressNotify = 1;
    QLineEdit::inputMethodEvent(event);
    const QString committed = event->commitString();
    if (committed.isEmpty()) {
        SuppressNotify = DeferNotify;
        return;
    }
    AfterCharacter(before, cursorBefore, committed.at(0), 1);
}

void BalloonEdit::AfterCharacter(const QString& before, int cursorBefore, QChar character, int repeatCount)
{
    if (CheckInputChar(character, repeatCount, 0)) {
        SuppressNotify = DeferNotify;
        if (DeferNotify == 1)
            ChangePending = 1;
        else
            NotifyOwner();
        return;
    }
    // Rejected: the previous text comes back unreported, the caret where it was.
    setText(before);
    setCursorPosition(cursorBefore);
    SuppressNotify = DeferNotify;
}

void BalloonEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // A context menu opening over the edit does not end the edit.
    if (event->reason() != Qt::PopupFocusReason)
        Commit();
}
