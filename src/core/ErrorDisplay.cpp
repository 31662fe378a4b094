#include "core/ErrorDisplay.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

#include "core/CommonControls.h"
#include "core/Config.h"
#include "core/DeletionRules.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "core/TreeDeletion.h"
#include "win/Text.h"

namespace shipkit::core {

namespace {
constexpr std::size_t kMaxText = 6000;
void (*gSplashCloser)() = nullptr;
std::atomic<void (*)()> gExitCleanup{nullptr};

std::wstring cut(std::wstring text) {
  if (text.size() > kMaxText - 1) text.resize(kMaxText - 1);
  return text;
}
}  // namespace

void setSplashCloser(void (*closer)()) {
  gSplashCloser = closer;
}

void setExitCleanup(void (*cleanup)()) {
  gExitCleanup = cleanup;
}

void showError(std::wstring_view text) {
  if (gSplashCloser) gSplashCloser();
  std::wstring shown(text);
  if (std::optional<std::wstring> logPath = getLogPath()) {
    std::wstring path = *logPath;
    DWORD n = ::GetLongPathNameW(logPath->c_str(), nullptr, 0);
    if (n > 0) {
      std::wstring longPath(n, L'\0');
      DWORD m = ::GetLongPathNameW(logPath->c_str(), longPath.data(), n);
      if (m > 0 && m < n) {
        longPath.resize(m);
        path = longPath;
      }
    }
    shown = shown + L"\n\nLog: " + path;
  }
  shown = cut(std::move(shown));
  const RunState& rs = runState();
  if (rs.messageBoxMode) {
    std::wstring caption = core::messageOrConfig(1000);
    ensureCommonControls();
    ::MessageBoxW(rs.errorOwner, shown.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
    return;
  }
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != INVALID_HANDLE_VALUE && out != nullptr && ::GetFileType(out) == FILE_TYPE_CHAR) {
    DWORD written = 0;
    ::WriteConsoleW(out, shown.c_str(), DWORD(shown.size()), &written, nullptr);
    ::FlushFileBuffers(out);
    return;
  }
  std::string narrowText = win::narrow(shown);
  std::fprintf(stderr, "%s\n", narrowText.c_str());
  std::fflush(stderr);
}

std::wstring formatMessage(int id, const std::wstring* argument) {
  std::wstring text = core::messageOrConfig(id);
  if (argument) {
    std::size_t at = text.find(L"{0}");
    if (at != std::wstring::npos) text.replace(at, 3, cut(*argument));
  }
  return cut(std::move(text));
}

void showMessage(int id, const std::wstring* argument) {
  showError(formatMessage(id, argument));
}

void fatalExit(int code) {
  if (void (*cleanup)() = gExitCleanup.load()) cleanup();
  const RunState& rs = runState();
  if (!rs.languageRestart && !rs.extractionDir.empty()) {
    // The extraction directory is the current directory during the main work, and a
    // process's current directory cannot be removed: step out to its parent first.
    std::string parent = rs.extractionDir.substr(0, rs.extractionDir.find_last_of('\\') + 1);
    if (!parent.empty()) ::SetCurrentDirectoryA(parent.c_str());
    emptyDir(rs.extractionDir, true);
    const std::wstring dir = fullPathOf(win::wide(rs.extractionDir));
    removeEntry(dir, treeTopLength(dir, {dir}), EntryKind::kDirectory);
  }
  std::fflush(stdout);
  std::fflush(stderr);
  ::TerminateProcess(::GetCurrentProcess(), UINT(code));
  ::ExitProcess(UINT(code));  // not reached
}

void fatalText(std::wstring_view text) {
  showError(text);
  fatalExit(1);
}

void fatalMessage(int id) {
  showError(formatMessage(id));
  fatalExit(1);
}

void fatalMessage(int id, std::wstring_view argument) {
  std::wstring arg(argument);
  showError(formatMessage(id, &arg));
  fatalExit(1);
}

void fatalMessage(int id, std::string_view narrowArgument) {
  fatalMessage(id, std::wstring_view(win::widenBytes(narrowArgument)));
}

void writeStdout(std::string_view text) {
  if (runState().consoleAttached) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != INVALID_HANDLE_VALUE && out != nullptr) {
      DWORD written = 0;
      ::WriteFile(out, text.data(), DWORD(text.size()), &written, nullptr);
      ::FlushFileBuffers(out);
    }
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace shipkit::core
