#pragma once
// The licence-agreement dialog: the project's licence text in a small window,
// shown at the first start in a data folder and from the About item (with the
// versions above the text). It guards nothing: closing it never ends the tool.

#include <string>

#include <QDialog>

class QLabel;

class LicenceDialog : public QDialog {
    Q_OBJECT

public:
    explicit LicenceDialog(const QString& productName, QWidget* parent = nullptr);

    // Shows the dialog when this data folder has not shown it before, and
    // remembers that it did. True when it was shown.
    bool ShowOnFirstStart();
    // Text shown above the licence (the About item's versions); empty hides it.
    void SetInfoText(const std::string& text);
    // Shows the dialog without blocking and brings it to the front.
    void Present();

private:
    QLabel* info_ = nullptr;
};

// The licence text shown: the LICENSE-TEXT resource, or a short notice when it is missing.
[[nodiscard]] std::string LoadLicenseText();
