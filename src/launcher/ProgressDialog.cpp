#include "launcher/ProgressDialog.h"

#include <commctrl.h>

#include <atomic>

#include "core/CommonControls.h"
#include "core/Config.h"
#include "core/DialogPlacement.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/RunState.h"
#include "instance/StartMarkers.h"
#include "launcher/MainWork.h"
#include "launcher/RuntimeSteps.h"

namespace shipkit::launcher {

// The shared services (log, configuration, paths, run state, error display).
using namespace core;

void registerDialogClass() {
  WNDCLASSW wc{};
  wc.style = 0x2808;  // double-clicks, save-bits, byte-aligned window
  wc.lpfnWndProc = ::DefDlgProcW;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = runState().instance;
  wc.hIcon = ::LoadIconW(runState().instance, MAKEINTRESOURCEW(kIconProduct));
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"MyDialogClass";
  ::RegisterClassW(&wc);
}

namespace {

std::atomic<bool> gCanceled{false};

// A dialog opened while the run started without one exists only for the runtime
// download, which ends it when done; otherwise the dialog carries the whole main work.
DWORD WINAPI workThread(LPVOID parameter) {
  HWND window = static_cast<HWND>(parameter);
  if (runState().startWithoutDialog)
    downloadRuntime(window);
  else
    runMainWork(window);
  return 0;
}

INT_PTR CALLBACK progressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      centerOnParent(window);
      runState().errorOwner = window;
      ::SendDlgItemMessageW(window, kProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
      ::SetDlgItemTextW(window, kMainText, core::message(20007).c_str());
      ::SetWindowTextW(window, core::message(20013).c_str());
      ::SetDlgItemTextW(window, IDCANCEL, core::message(20012).c_str());
      HANDLE thread = ::CreateThread(nullptr, 0, workThread, window, 0, nullptr);
      if (!thread) {
        // Without its work thread the dialog would wait for nothing until the user cancels.
        logError(L"could not start the work thread (error %d)", int(::GetLastError()));
        fatalMessage(1009, std::string_view("73"));
      }
      ::CloseHandle(thread);
      return TRUE;
    }
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      if (id == IDOK || id == IDCANCEL) {
        logLine(L"Canceled installer");
        gCanceled = true;
        instance::cancelStartMarkers();
        stopDownload();
        ::EndDialog(window, id);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

bool progressDialogCanceled() {
  return gCanceled;
}

INT_PTR runProgressDialog(HWND owner) {
  ensureCommonControls();
  return ::DialogBoxParamW(runState().instance, MAKEINTRESOURCEW(kProgressDialog), owner, progressDialogProc,
                           0);
}

}  // namespace shipkit::launcher
