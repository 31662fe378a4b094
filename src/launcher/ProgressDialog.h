#pragma once
#include <windows.h>

namespace shipkit::launcher {

inline constexpr int kProgressDialog = 103;
inline constexpr int kSelectionDialog = 104;
inline constexpr int kIconProduct = 1001;
inline constexpr int kProgressBar = 1001;
inline constexpr int kStatusText = 1002;
inline constexpr int kMainText = 1003;

// Registers the window class "MyDialogClass" used by the launcher's dialogs.
void registerDialogClass();
// Runs the progress dialog modally; its start-up starts the main work (or, when the run
// starts without a dialog, the runtime download) on a new thread.
INT_PTR runProgressDialog(HWND owner);
// Places a window at the centre of its parent, or of the desktop without one.
void centerOnParent(HWND window);

}  // namespace shipkit::launcher
