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

// The dialog's controls behind the steps' progress.
class DialogProgress final : public core::Progress {
 public:
  explicit DialogProgress(HWND window) : window_(window) {}
  bool hasDialog() const override { return true; }
  void setRange(int low, int high) override {
    ::SendDlgItemMessageW(window_, kProgressBar, PBM_SETRANGE, 0, MAKELPARAM(low, high));
  }
  // Posted: a thread that moves the bar never waits for the dialog's thread.
  void setPosition(int position) override {
    ::PostMessageW(::GetDlgItem(window_, kProgressBar), PBM_SETPOS, WPARAM(position), 0);
  }
  void setMainText(const std::wstring& text) override { ::SetDlgItemTextW(window_, kMainText, text.c_str()); }
  void setStatusText(const std::wstring& text) override {
    ::SetDlgItemTextW(window_, kStatusText, text.c_str());
  }
  void setButtonText(const std::wstring& text) override { ::SetDlgItemTextW(window_, IDCANCEL, text.c_str()); }
  void showStatus(bool shown) override {
    ::ShowWindow(::GetDlgItem(window_, kStatusText), shown ? SW_SHOW : SW_HIDE);
  }
  void hide() override { ::ShowWindow(window_, SW_HIDE); }
  // The dialog runs on another thread: ending it takes effect when its loop wakes up.
  void end() override {
    ::EndDialog(window_, 0);
    ::PostMessageW(window_, WM_NULL, 0, 0);
  }
  HWND owner() const override { return window_; }
  bool canceled() const override { return gCanceled; }

 private:
  HWND window_;
};

// A dialog opened while the run started without one exists only for the runtime
// download, which ends it when done; otherwise the dialog carries the whole main work.
// The progress object lives as long as the process: the wait for the Java side's window
// uses it after the work thread has gone on into the Java side.
DWORD WINAPI workThread(LPVOID parameter) {
  auto* progress = new DialogProgress(static_cast<HWND>(parameter));
  if (runState().startWithoutDialog)
    downloadRuntime(*progress);
  else
    runMainWork(*progress);
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
