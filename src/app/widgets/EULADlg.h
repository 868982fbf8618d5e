#pragma once
// The licence-agreement dialog: the project's licence text in a small window,
// shown at the first start in a data folder and from the About item. It guards
// nothing: closing it never ends the tool.

#include <string>

class QWidget;

struct EULADlg;  // opaque
using EULADlgHandle = EULADlg*;

// Creates the dialog for the product (not shown yet).
EULADlgHandle TAVO_EULADlg_Create(QWidget* parent, const char* productName, void* reserved);
// Shows the dialog when this data folder has not shown it before (and remembers
// that it did). Non-zero when it was shown.
int TAVO_EULADlg_CheckShowEULA(EULADlgHandle dialog);
// Text shown above the licence (the About item's versions); empty hides it.
void TAVO_EULADlg_SetInfoText(EULADlgHandle dialog, const std::string& text);
// Shows the dialog (without blocking); showCommand 0 hides it.
void TAVO_EULADlg_Show(EULADlgHandle dialog, int showCommand);
void TAVO_EULADlg_Destroy(EULADlgHandle dialog);

// The dialog's window, for tests; null for a null handle.
[[nodiscard]] QWidget* TAVO_EULADlg_Window(EULADlgHandle dialog);
// The licence text shown: the LICENSE-TEXT resource, or a short notice when it is missing.
[[nodiscard]] std::string LoadLicenseText();
