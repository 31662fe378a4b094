#include "jre/ManualSelection.h"

#include <commdlg.h>

#include <string>

#include "core/Config.h"
#include "core/DialogIds.h"
#include "core/DialogPlacement.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/RunState.h"
#include "instance/StartMarkers.h"
#include "jre/DownloadRules.h"
#include "jvm/locate/LoadDll.h"
#include "jvm/locate/RegistrySources.h"
#include "win/LateBound.h"
#include "win/Text.h"

namespace shipkit::jre {

namespace {

win::LateBound<decltype(&::GetOpenFileNameA)> openFileName(L"Comdlg32.dll", "GetOpenFileNameA");

bool loadFileDialogFunction() {
  return openFileName.available();
}

std::wstring selectionText(bool downloadOffered) {
  std::wstring base = formatWithArgument(core::message(downloadOffered ? 20005 : 20006), L"64");
  return composeSelectionText(base, core::message(20019), win::wide(core::configString(126, 6000)),
                              core::message(20020), win::wide(core::configString(127, 6000)));
}

INT_PTR CALLBACK selectionDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const bool downloadOffered = lParam != 0;
      core::centerOnParent(window);
      ::SetWindowTextW(window, core::message(20013).c_str());
      ::SetDlgItemTextW(window, IDCANCEL, core::message(20012).c_str());
      ::SetDlgItemTextW(window, kSelectionLocate, core::message(20011).c_str());
      ::SetDlgItemTextW(window, kSelectionDownload, core::message(20010).c_str());
      if (!downloadOffered) ::ShowWindow(::GetDlgItem(window, kSelectionDownload), SW_HIDE);
      ::SetDlgItemTextW(window, core::kMainText, selectionText(downloadOffered).c_str());
      return TRUE;
    }
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      if (id == kSelectionLocate) {
        if (chooseJavaExecutable(window)) ::EndDialog(window, kSelectionLocate);
        return FALSE;
      }
      if (id == IDCANCEL) {
        instance::clearStartMarkers();
        core::fatalExit(1);
      }
      ::EndDialog(window, id);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

int showSelectionDialog(HWND owner, bool downloadOffered) {
  INT_PTR result = ::DialogBoxParamW(core::runState().instance, MAKEINTRESOURCEW(core::kSelectionDialog),
                                     owner, selectionDialogProc, downloadOffered ? 1 : 0);
  if (result == -1) core::logError(L"could not show the selection dialog (error %d)", int(::GetLastError()));
  return int(result);
}

bool chooseJavaExecutable(HWND owner) {
  if (!loadFileDialogFunction()) return false;
  std::string file(6000, '\0');
  std::string title = win::narrowIn(CP_ACP, core::message(20004));
  if (title.size() > 5999) title.resize(5999);
  static const char kFilter[] = "Java EXE\0java.exe\0";
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = kFilter;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = DWORD(file.size());
  dialog.lpstrTitle = title.c_str();
  dialog.Flags = OFN_FILEMUSTEXIST;
  if (!openFileName.get()(&dialog)) return false;
  file.resize(file.find('\0'));
  if (!jvm::LoadDLL(true, &file, true)) return false;
  jvm::registerLocatedJvm(file);
  return true;
}

}  // namespace shipkit::jre
