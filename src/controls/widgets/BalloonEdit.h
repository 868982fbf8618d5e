#pragma once
// A line edit that filters typed characters, tells its owner about a changed
// value only when the user commits it (leaves the edit, or presses Enter or Tab),
// validates the value at that moment and explains rejections in its own balloon.
//
// The owner sees one notification, editChanged(): at commit, and whenever the
// edit corrects its own text. Text the owner sets while the edit is idle is not
// reported; text the owner sets while it handles editChanged() is, so the owner's
// handler runs again (nested) for a corrected value.

#include <string>

#include <QLineEdit>
#include <QPointer>

#include "common/EditLimits.h"

class BalloonTip;

// Keys of the edit's own balloon messages (the limits' are those of EditLimits.h).
enum : int {
    XEDIT_BALLOON_KEY_CHARACTER = 1,
    XEDIT_BALLOON_KEY_BELOW_MIN = EDIT_LIMIT_KEY_BELOW_MIN,
    XEDIT_BALLOON_KEY_ABOVE_MAX = EDIT_LIMIT_KEY_ABOVE_MAX,
};

class BalloonEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit BalloonEdit(QWidget* parent = nullptr);
    ~BalloonEdit() override;

    // 1: a typed change is reported at commit; 0: reported at once, per character.
    int DeferNotify = 1;
    // 1: a commit without typed changes does nothing.
    int CommitOnlyIfChanged = 1;
    // A character was typed since the last commit.
    int ChangePending = 0;
    // While 1 the edit's own change notifications do not reach the owner.
    int SuppressNotify = 1;

    // Shows a message in the edit's balloon, under the edit's bottom-left corner.
    void ShowBalloonTip(const std::string& title, const std::string& text, int icon, int key);
    // The balloon, or null before the first message.
    [[nodiscard]] BalloonTip* Balloon() const;

    // The commit step: validates and reports a typed change (see the class comment).
    void Commit();

signals:
    void editChanged();

protected:
    // Called after a typed character has been applied; false restores the previous text.
    virtual bool CheckInputChar(QChar character, int repeatCount, int flags);
    // Called for an unsuppressed change of the text; true keeps it from the owner.
    virtual bool OnEditChange();
    // Called at commit; false means the value was rejected and already replaced.
    virtual bool CheckInputValue();

    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void OnTextChanged();
    void AfterCharacter(const QString& before, int cursorBefore, QChar character, int repeatCount);
    void NotifyOwner();

    QPointer<BalloonTip> balloon_;
};
