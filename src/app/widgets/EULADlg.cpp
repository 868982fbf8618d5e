#include "app/widgets/EULADlg.h"

#include <cstdio>

#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QVBoxLayout>

#include "app/StringTable.h"
#include "common/FileUtils.h"

struct EULADlg {
    std::string productName;
    QPointer<QDialog> window;
};

namespace {

// Marks a data folder in which the licence has been shown once.
const char kShownMarker[] = "LicenseShown";

QDialog* BuildWindow(QWidget* parent, const std::string& productName)
{
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("EULADlg"));
    dialog->setWindowTitle(QString::fromStdString(productName));
    dialog->setModal(false);
    dialog->resize(560, 420);
    auto* info = new QLabel(dialog);
    info->setObjectName(QStringLiteral("AboutText"));
    info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    info->hide();
    auto* text = new QPlainTextEdit(dialog);
    text->setObjectName(QStringLiteral("LicenseText"));
    text->setReadOnly(true);
    text->setPlainText(QString::fromStdString(LoadLicenseText()));
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::hide);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(info);
    layout->addWidget(text);
    layout->addWidget(buttons);
    return dialog;
}

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

EULADlgHandle TAVO_EULADlg_Create(QWidget* parent, const char* productName, void*)
{
    auto* dialog = new EULADlg;
    dialog->productName = productName ? productName : "";
    dialog->window = BuildWindow(parent, dialog->productName);
    return dialog;
}

int TAVO_EULADlg_CheckShowEULA(EULADlgHandle dialog)
{
    if (!dialog)
        return 0;
    const std::string marker = CombinePathName(GetProgramPath(), kShownMarker);
    if (IsFileExist(marker))
        return 0;
    TAVO_EULADlg_Show(dialog, 5);
    if (FILE* file = std::fopen(marker.c_str(), "wb")) {
        std::fputs("The licence text was shown in this folder.\n", file);
        std::fclose(file);
    }
    return 1;
}

void TAVO_EULADlg_SetInfoText(EULADlgHandle dialog, const std::string& text)
{
    if (!dialog || !dialog->window)
        return;
    auto* info = dialog->window->findChild<QLabel*>(QStringLiteral("AboutText"));
    if (!info)
        return;
    info->setText(QString::fromStdString(text));
    info->setVisible(!text.empty());
}

void TAVO_EULADlg_Show(EULADlgHandle dialog, int showCommand)
{
    if (!dialog || !dialog->window)
        return;
    if (showCommand == 0) {
        dialog->window->hide();
        return;
    }
    dialog->window->show();
    dialog->window->raise();
    dialog->window->activateWindow();
}

void TAVO_EULADlg_Destroy(EULADlgHandle dialog)
{
    if (!dialog)
        return;
    delete dialog->window.data();
    delete dialog;
}

QWidget* TAVO_EULADlg_Window(EULADlgHandle dialog)
{
    return dialog ? dialog->window.data() : nullptr;
}
