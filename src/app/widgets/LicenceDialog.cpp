#include "app/widgets/LicenceDialog.h"

#include <cstdio>

#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "app/StringTable.h"
#include "common/FileUtils.h"
#include "common/UserPlaces.h"

namespace {

// Marks a data folder in which the licence has been shown once.
const char SHOWN_MARKER[] = "LicenseShown";

}  // namespace

std::string LoadLicenseText()
{
    const std::string path = FindResourcePath("LICENSE-TEXT");
    if (!path.empty()) {
        uint8_t* data = nullptr;
        const size_t length = ReadFileData(path, &data);
        if (length > 0) {
            std::string text(reinterpret_cast<const char*>(data), length);
            ReleaseFileData(data);
            return text;
        }
    }
    return "Palo520G Tool\n\n" + LoadStringText(TEXT_LICENSE_MISSING);
}

LicenceDialog::LicenceDialog(const QString& productName, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("EULADlg"));
    setWindowTitle(productName);
    setModal(false);
    resize(560, 420);
    info_ = new QLabel(this);
    info_->setObjectName(QStringLiteral("AboutText"));
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    info_->hide();
    auto* text = new QPlainTextEdit(this);
    text->setObjectName(QStringLiteral("LicenseText"));
    text->setReadOnly(true);
    text->setPlainText(QString::fromStdString(LoadLicenseText()));
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(info_);
    layout->addWidget(text);
    layout->addWidget(buttons);
}

bool LicenceDialog::ShowOnFirstStart()
{
    const std::string marker = CombinePathName(GetConfigFolder(), SHOWN_MARKER);
    if (IsFileExist(marker))
        return false;
    Present();
    if (FILE* file = std::fopen(marker.c_str(), "wb")) {
        std::fputs("The licence text was shown in this folder.\n", file);
        std::fclose(file);
    }
    return true;
}

void LicenceDialog::SetInfoText(const std::string& text)
{
    info_->setText(QString::fromStdString(text));
    info_->setVisible(!text.empty());
}

void LicenceDialog::Present()
{
    show();
    raise();
    activateWindow();
}
