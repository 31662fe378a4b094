#pragma once
#include <windows.h>

#include "core/DialogIds.h"

namespace shipkit::launcher {

using core::kIconProduct;
using core::kMainText;
using core::kProgressBar;
using core::kProgressDialog;
using core::kSelectionDialog;
using core::kStatusText;

// Registers the window class "MyDialogClass" used by the launcher's dialogs.
void registerDialogClass();
// Runs the progress dialog modally; its start-up starts the main work (or, when the run
// starts without a dialog, the runtime download) on a new thread.
INT_PTR runProgressDialog(HWND owner);
// Whether the user canceled the progress dialog (its Cancel button, Escape or Enter).
bool progressDialogCanceled();

}  // namespace shipkit::launcher
