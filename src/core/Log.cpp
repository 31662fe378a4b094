#include "core/Log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "core/CommonControls.h"
#include "core/LogFormat.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "win/Text.h"
#include "win/Unique.h"

namespace shipkit::core {

namespace {

struct LogState {
  std::recursive_mutex lock;  // a log call made while the log initialises re-enters
  bool initialised = false;
  bool requested = false;
  bool switchSeen = false;
  bool kept = false;
  bool haveStream = false;  // the file could be created at initialisation
  bool deleted = false;     // removed at exit: later lines must not create it again
  std::wstring path;
  int64_t startMs = 0;
  int batches = 0;          // open LogBatch scopes
  win::UniqueFile batched;  // the stream kept open while a batch scope exists
};

// Never destroyed: threads that still log while the process exits (a worker after Cancel)
// must not meet a destroyed lock.
LogState& state() {
  static LogState* s = new LogState;
  return *s;
}

int64_t nowMs() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER u;
  u.LowPart = ft.dwLowDateTime;
  u.HighPart = ft.dwHighDateTime;
  return int64_t(u.QuadPart / 10000);
}

std::wstring vformat(const wchar_t* format, va_list args) {
  va_list probe;
  va_copy(probe, args);
  int n = _vscwprintf(format, probe);
  va_end(probe);
  if (n <= 0) return {};
  std::wstring out(std::size_t(n) + 1, L'\0');
  _vsnwprintf(out.data(), out.size(), format, args);
  out.resize(std::size_t(n));
  return out;
}

bool writeAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return ::WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
}

win::UniqueFile openLog(const std::wstring& path, DWORD disposition) {
  DWORD access = disposition == OPEN_EXISTING ? FILE_APPEND_DATA : GENERIC_WRITE;
  return win::UniqueFile(::CreateFileW(path.c_str(), access,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void deleteLogAtExit() {
  LogState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  if (!s.kept && !s.requested && !s.path.empty()) {
    s.batched.reset();
    ::DeleteFileW(s.path.c_str());
    s.deleted = true;
  }
}

bool envIsYes(const wchar_t* name) {
  wchar_t value[8];
  DWORD n = ::GetEnvironmentVariableW(name, value, 8);
  return n == 3 && std::wstring_view(value, 3) == L"yes";
}

// Creates the log file; returns the open stream or an invalid handle.
win::UniqueFile initialise(LogState& s) {
  s.initialised = true;
  s.requested = s.switchSeen || envIsYes(L"JARWRAP_LOG") || envIsYes(L"SHIPKIT_LOG");
  if (!s.requested) std::atexit(deleteLogAtExit);

  const std::wstring dir = logDirectory(tempRootW(false));
  // The first free number, taken atomically: two launchers started together must not both
  // see a number as free and then truncate each other's log. The last number is reused.
  win::UniqueFile file;
  for (int n = 1; n <= kMaxLogNumber && !file; ++n) {
    s.path = logFileName(dir, n);
    file = openLog(s.path, n < kMaxLogNumber ? CREATE_NEW : CREATE_ALWAYS);
    if (!file && ::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  if (!file) {
    s.path = L"c:\\skt_nlog";
    file = openLog(s.path, CREATE_ALWAYS);
    if (!file) return file;
  }
  s.haveStream = true;
  wchar_t module[MAX_PATH * 4] = {};
  ::GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
  std::time_t now = std::time(nullptr);
  const char* when = std::ctime(&now);
  std::wstring first =
      L"Started executable " + std::wstring(module) + L" at " + win::widenBytes(when ? when : "\n") + L"\n";
  writeAll(file.get(), "\xEF\xBB\xBF" + toUtf8TextMode(first));
  ::FlushFileBuffers(file.get());
  s.startMs = nowMs();
  return file;
}

void write(bool error, const wchar_t* format, va_list args) {
  // The log must not change what callers read from GetLastError afterwards.
  const DWORD savedError = ::GetLastError();
  LogState& s = state();
  {
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    if (s.deleted) {
      ::SetLastError(savedError);
      return;
    }
    win::UniqueFile file;
    if (s.batched)
      file = std::move(s.batched);
    else if (!s.path.empty())
      file = openLog(s.path, OPEN_EXISTING);
    if (!s.initialised) file = initialise(s);
    if (file) {
      std::wstring line = logPrefix(nowMs() - s.startMs);
      if (error) line += L"ERROR: ";
      line += vformat(format, args);
      line += L"\n";
      writeAll(file.get(), toUtf8TextMode(line));
    }
    if (s.batches > 0) s.batched = std::move(file);
  }
  ::SetLastError(savedError);
}

}  // namespace

void logLine(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  write(false, format, args);
  va_end(args);
}

void logError(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  write(true, format, args);
  va_end(args);
}

LogBatch::LogBatch() {
  LogState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  ++s.batches;
}

LogBatch::~LogBatch() {
  LogState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  if (--s.batches == 0) s.batched.reset();
}

void setLogRequested() {
  LogState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  s.switchSeen = true;
}

bool logRequested() {
  LogState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  return s.switchSeen;
}

std::optional<std::wstring> getLogPath() {
  LogState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.lock);
  if (s.path.empty()) return std::nullopt;
  if (!s.haveStream && ::GetFileAttributesW(s.path.c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  s.kept = true;
  return s.path;
}

void offerLogFolder() {
  std::optional<std::wstring> path = getLogPath();
  const std::wstring shown = path.value_or(L"");
  wchar_t text[6000];
  _snwprintf(text, 6000,
             L"The following log file will be created:\n\n%s\n\nDo you want to open an Explorer window?",
             shown.c_str());
  text[5999] = 0;
  ensureCommonControls();
  if (::MessageBoxW(nullptr, text, productNameW(), MB_YESNO) != IDYES) return;
  wchar_t shortPath[261] = {};
  wchar_t windowsDir[261] = {};
  ::GetShortPathNameW(shown.c_str(), shortPath, 261);
  ::GetWindowsDirectoryW(windowsDir, 261);
  wchar_t command[600];
  _snwprintf(command, 600, L"%s\\explorer.exe /select,%s", windowsDir, shortPath);
  command[599] = 0;
  logLine(L"calling %s", command);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (::CreateProcessW(nullptr, command, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si,
                       &pi)) {
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
  } else {
    logLine(L"could not open explorer window %d", int(::GetLastError()));
  }
}

}  // namespace shipkit::core
