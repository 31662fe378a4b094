#include "core/Paths.h"

#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "core/Config.h"
#include "core/DeletionRules.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/RunState.h"
#include "core/TreeDeletion.h"
#include "win/LateBound.h"
#include "win/Text.h"
#include "win/Unique.h"

namespace shipkit::core {

namespace {

constexpr DWORD kMaxPath = 6000;

struct PathState {
  bool pathsDone = false;
  std::wstring longPath;
  std::string narrowPath;
  std::string narrowDir;
  std::wstring wideDir;
  std::optional<std::string> tempNarrow;
  std::optional<std::wstring> tempWide;
  std::wstring manualWide;
  std::string manualNarrow;
  bool perUserFallback = false;
};

PathState& ps() {
  static PathState* s = new PathState;  // lives until the process ends (see Log.cpp)
  return *s;
}

std::wstring longPathName(const std::wstring& path) {
  std::wstring out(kMaxPath, L'\0');
  DWORD n = ::GetLongPathNameW(path.c_str(), out.data(), kMaxPath);
  if (n == 0 || n >= kMaxPath) return {};
  out.resize(n);
  return out;
}

std::string longPathName(const std::string& path) {
  std::string out(kMaxPath, '\0');
  DWORD n = ::GetLongPathNameA(path.c_str(), out.data(), kMaxPath);
  if (n == 0 || n >= kMaxPath) return {};
  out.resize(n);
  return out;
}

std::wstring shortPathName(const std::wstring& path) {
  std::wstring out(kMaxPath, L'\0');
  DWORD n = ::GetShortPathNameW(path.c_str(), out.data(), kMaxPath);
  if (n == 0 || n >= kMaxPath) return {};
  out.resize(n);
  return out;
}

// Asks the command interpreter for the short form of a path (its for-loop "%~s" modifier),
// for file systems where GetShortPathName gives nothing usable.
std::string shortNameFromCmd(const std::wstring& path) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  win::UniqueHandle readEnd, writeEnd;
  if (!::CreatePipe(readEnd.put(), writeEnd.put(), &sa, 0)) {
    logLine(L"CreatePipe error (%d)", int(::GetLastError()));
    return {};
  }
  if (!::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0)) {
    logLine(L"SetHandleInformation error (%d)", int(::GetLastError()));
    return {};
  }
  wchar_t windowsDir[MAX_PATH + 1] = {};
  ::GetWindowsDirectoryW(windowsDir, MAX_PATH + 1);
  std::wstring format =
      std::wstring(windowsDir) + L"\\system32\\cmd.exe /C for %%I in (\"%s\") do @echo %%~sI";
  std::wstring command(format.size() + path.size() + 16, L'\0');
  int len = _snwprintf(command.data(), command.size(), format.c_str(), path.c_str());
  command.resize(len > 0 ? std::size_t(len) : 0);
  logLine(L"executing %s", command.c_str());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  si.hStdOutput = writeEnd.get();
  si.hStdError = writeEnd.get();
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &si, &pi)) {
    logLine(L"could not execute cmd.exe");
    return {};
  }
  win::UniqueHandle process(pi.hProcess), thread(pi.hThread);
  writeEnd.reset();
  std::string answer;
  char chunk[512];
  DWORD got = 0;
  while (answer.size() < kMaxPath && ::ReadFile(readEnd.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
    answer.append(chunk, std::min<std::size_t>(got, kMaxPath - answer.size()));
  logLine(L"finished reading from cmd.exe %d \"%S\"", int(answer.size()), answer.c_str());
  ::WaitForSingleObject(process.get(), 5000);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.get(), &exitCode);
  logLine(L"Exit Code %d", int(exitCode));
  if (exitCode == STILL_ACTIVE) {
    logLine(L"Terminating process");
    ::TerminateProcess(process.get(), 1);
    return {};
  }
  if (exitCode != 0 || answer.size() < 6) return {};
  answer = answer.substr(0, answer.find_first_of("\r\n"));
  logLine(L"Using %S", answer.c_str());
  return answer;
}

std::string collapseNarrow(const std::string& path) {
  bool clean = false;
  std::string back = win::narrow(collapseBackslashes<wchar_t>(win::wide(path)), &clean);
  return clean ? back : path;
}

void computePaths() {
  PathState& s = ps();
  if (s.pathsDone) return;
  s.pathsDone = true;
  std::wstring module(kMaxPath, L'\0');
  DWORD n = ::GetModuleFileNameW(nullptr, module.data(), kMaxPath);
  module.resize(n < kMaxPath ? n : kMaxPath - 1);
  std::wstring longForm(kMaxPath, L'\0');
  DWORD m = ::GetLongPathNameW(module.c_str(), longForm.data(), kMaxPath);
  DWORD error = ::GetLastError();
  if (m == 0 || m >= kMaxPath)
    longForm = module;
  else
    longForm.resize(m);
  logLine(L"init file name %s %s %d %d", module.c_str(), longForm.c_str(), int(m), int(error));
  s.longPath = collapseBackslashes<wchar_t>(longForm);

  bool clean = false;
  std::string narrowForm = win::narrow(s.longPath, &clean);
  if (!clean || !endsWithExe<char>(narrowForm)) {
    narrowForm.clear();
    std::string shortForm = win::narrow(shortPathName(s.longPath), &clean);
    if (clean && endsWithExe<char>(shortForm)) {
      narrowForm = shortForm;
    } else {
      std::string fromCmd = shortNameFromCmd(s.longPath);
      if (endsWithExe<char>(fromCmd)) {
        narrowForm = fromCmd;
      } else {
        std::string ansi(kMaxPath, '\0');
        DWORD a = ::GetModuleFileNameA(nullptr, ansi.data(), kMaxPath);
        ansi.resize(a < kMaxPath ? a : 0);
        std::string shortAnsi(kMaxPath, '\0');
        DWORD b = ::GetShortPathNameA(ansi.c_str(), shortAnsi.data(), kMaxPath);
        narrowForm = (b > 0 && b < kMaxPath) ? shortAnsi.substr(0, b) : std::string();
      }
    }
  }
  s.narrowPath = collapseNarrow(narrowForm);
  s.narrowDir = directoryOf<char>(s.narrowPath);
  s.wideDir = directoryOf<wchar_t>(s.longPath);
}

unsigned randomNumber() {
  std::srand(unsigned(::GetCurrentProcessId()) * unsigned(std::time(nullptr)));
  return unsigned(std::rand());
}

template <typename Char>
struct Api;

template <>
struct Api<char> {
  using String = std::string;
  static bool createDir(const String& d) { return ::CreateDirectoryA(d.c_str(), nullptr); }
  static bool removeDir(const String& d) { return ::RemoveDirectoryA(d.c_str()); }
  static String longForm(const String& d) { return longPathName(d); }
  static String format(const String& dir, unsigned pid, unsigned r) {
    return dir + "\\jwrtw" + std::to_string(pid) + std::to_string(r);
  }
  static bool exists(const String& p) { return core::exists(p); }
  static void logLong(const String& p) { logLine(L"using long path %S", p.c_str()); }
  static String tempPath() {
    char buf[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathA(MAX_PATH + 1, buf);
    return n > 0 && n <= MAX_PATH ? String(buf, n) : String();
  }
  static String env(const char* name) {
    char buf[kMaxPath];
    DWORD n = ::GetEnvironmentVariableA(name, buf, kMaxPath);
    return n > 0 && n < kMaxPath ? String(buf, n) : String();
  }
  static String windowsDir() {
    char buf[MAX_PATH + 1] = {};
    UINT n = ::GetWindowsDirectoryA(buf, MAX_PATH + 1);
    return String(buf, n <= MAX_PATH ? n : 0);
  }
  static String commonAppData() {
    using Fn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    static win::LateBound<Fn> fn(L"shell32.dll", "SHGetFolderPathA");
    char buf[MAX_PATH + 1] = {};
    if (!fn.get() || FAILED(fn.get()(nullptr, 0x23, nullptr, 0, buf))) return {};
    return buf;
  }
  static String lit(const char* s) { return s; }
};

template <>
struct Api<wchar_t> {
  using String = std::wstring;
  static bool createDir(const String& d) { return ::CreateDirectoryW(d.c_str(), nullptr); }
  static bool removeDir(const String& d) { return ::RemoveDirectoryW(d.c_str()); }
  static String longForm(const String& d) { return longPathName(d); }
  static String format(const String& dir, unsigned pid, unsigned r) {
    return dir + L"\\jwrtw" + std::to_wstring(pid) + std::to_wstring(r);
  }
  static bool exists(const String& p) { return core::exists(p); }
  static void logLong(const String& p) { logLine(L"using long path %s", p.c_str()); }
  static String tempPath() {
    wchar_t buf[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
    return n > 0 && n <= MAX_PATH ? String(buf, n) : String();
  }
  static String env(const char* name) {
    std::wstring wname = win::widenBytes(name);
    wchar_t buf[kMaxPath];
    DWORD n = ::GetEnvironmentVariableW(wname.c_str(), buf, kMaxPath);
    return n > 0 && n < kMaxPath ? String(buf, n) : String();
  }
  static String windowsDir() {
    wchar_t buf[MAX_PATH + 1] = {};
    UINT n = ::GetWindowsDirectoryW(buf, MAX_PATH + 1);
    return String(buf, n <= MAX_PATH ? n : 0);
  }
  static String commonAppData() {
    using Fn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    static win::LateBound<Fn> fn(L"shell32.dll", "SHGetFolderPathW");
    wchar_t buf[MAX_PATH + 1] = {};
    if (!fn.get() || FAILED(fn.get()(nullptr, 0x23, nullptr, 0, buf))) return {};
    return buf;
  }
  static String lit(const char* s) { return win::widenBytes(s); }
};

// The write probe: a uniquely named directory can be created and seen in `dir`.
template <typename Char>
bool probeDir(const typename Api<Char>::String& dir) {
  using A = Api<Char>;
  auto probe = A::format(dir, unsigned(::GetCurrentProcessId()), randomNumber());
  A::removeDir(probe);
  if (!A::createDir(probe)) return false;
  bool usable = A::exists(probe);
  A::removeDir(probe);
  return usable;
}

template <typename Char>
bool tryRoot(typename Api<Char>::String& dir, bool create, bool rejectUnrepresentable, bool preferLong) {
  using A = Api<Char>;
  if (dir.empty()) return false;
  if (create) A::createDir(dir);
  if (rejectUnrepresentable || preferLong) {
    auto longDir = A::longForm(dir);
    bool unrepresentable = longDir.find(Char('?')) != A::String::npos;
    if (unrepresentable && rejectUnrepresentable) return false;
    // A long form with "?" cannot be used for files; the short form then stays.
    if (!unrepresentable && preferLong && !longDir.empty() && longDir.size() < kMaxPath && longDir != dir) {
      A::logLong(longDir);
      dir = longDir;
    }
  }
  return probeDir<Char>(dir);
}

template <typename Char>
typename Api<Char>::String searchTempRoot() {
  using A = Api<Char>;
  using S = typename A::String;
  const bool preferLong = core::configInt(10009) != 0;
  S dir;
  auto attempt = [&](S candidate, bool create, bool strict) {
    dir = std::move(candidate);
    return tryRoot<Char>(dir, create, strict, preferLong);
  };
  auto probeOnly = [&](S candidate, bool createFirst) {
    dir = std::move(candidate);
    if (createFirst) A::createDir(dir);
    return !dir.empty() && probeDir<Char>(dir);
  };
  const S windows = A::windowsDir();
  if (attempt(A::tempPath(), true, true)) return dir;
  if (attempt(A::env("USERPROFILE") + A::lit("\\AppData\\Local\\Temp"), false, true)) return dir;
  if (attempt(A::env("HOMEDRIVE") + A::env("HOMEPATH"), false, true)) return dir;
  S common = A::commonAppData();
  if (!common.empty()) {
    S shipkitDir = common + A::lit("\\shipkit");
    A::createDir(shipkitDir);
    if (attempt(shipkitDir + A::lit("\\temp"), true, true)) return dir;
  }
  if (!windows.empty() && probeOnly(windows + A::lit("\\temp"), false)) return dir;
  if (probeOnly(A::lit("c:\\temp"), false)) return dir;
  if (probeOnly(A::lit("c:\\tmp"), false)) return dir;
  if (!windows.empty() && probeOnly(windows, false)) return dir;
  if (probeOnly(A::lit("c:\\tmp"), true)) return dir;

  ps().perUserFallback = true;
  if (attempt(A::tempPath(), true, false)) return dir;
  if (attempt(A::env("USERPROFILE") + A::lit("\\AppData\\Local\\Temp"), false, false)) return dir;
  if (attempt(A::env("HOMEDRIVE") + A::env("HOMEPATH"), false, false)) return dir;
  return {};
}

}  // namespace

const std::wstring& launcherLongPath() {
  computePaths();
  return ps().longPath;
}
const std::string& launcherPath() {
  computePaths();
  return ps().narrowPath;
}
const std::string& launcherDir() {
  computePaths();
  return ps().narrowDir;
}
const std::wstring& launcherDirW() {
  computePaths();
  return ps().wideDir;
}
std::wstring launcherDirWidened() {
  return win::wide(launcherDir());
}

std::wstring resolvePath(std::wstring_view path, bool fromNarrowDir, bool keepCase) {
  std::wstring full(path);
  if (isRelative(path)) full = (fromNarrowDir ? launcherDirWidened() : launcherDirW()) + full;
  DWORD n = ::GetFullPathNameW(full.c_str(), 0, nullptr, nullptr);
  if (n > 0) {
    std::wstring buf(n, L'\0');
    DWORD m = ::GetFullPathNameW(full.c_str(), n, buf.data(), nullptr);
    if (m > 0 && m < n) full = buf.substr(0, m);
  }
  if (!keepCase) full = lowerAZ<wchar_t>(full);
  return collapseBackslashes<wchar_t>(full);
}

std::string resolvePath(std::string_view path, bool keepCase) {
  std::string full(path);
  if (isRelative(path)) full = launcherDir() + full;
  DWORD n = ::GetFullPathNameA(full.c_str(), 0, nullptr, nullptr);
  if (n > 0) {
    std::string buf(n, '\0');
    DWORD m = ::GetFullPathNameA(full.c_str(), n, buf.data(), nullptr);
    if (m > 0 && m < n) full = buf.substr(0, m);
  }
  if (!keepCase) full = lowerAZ<char>(full);
  return collapseBackslashes<char>(full);
}

bool exists(const std::wstring& path) {
  if (isDriveRootForm<wchar_t>(path)) return true;
  WIN32_FIND_DATAW data;
  win::UniqueFind find(::FindFirstFileW(path.c_str(), &data));
  return find.valid();
}

bool exists(const std::string& path) {
  if (isDriveRootForm<char>(path)) return true;
  WIN32_FIND_DATAA data;
  win::UniqueFind find(::FindFirstFileA(path.c_str(), &data));
  return find.valid();
}

std::string tempRoot() {
  PathState& s = ps();
  if (!s.manualNarrow.empty()) return s.manualNarrow;
  if (!s.tempNarrow) s.tempNarrow = searchTempRoot<char>();
  if (s.tempNarrow->empty()) {
    s.tempNarrow.reset();
    fatalMessage(1015);
  }
  return *s.tempNarrow;
}

std::wstring tempRootW(bool fatal) {
  PathState& s = ps();
  if (!s.manualWide.empty()) return s.manualWide;
  if (!s.tempWide) s.tempWide = searchTempRoot<wchar_t>();
  if (s.tempWide->empty()) {
    s.tempWide.reset();
    if (fatal) fatalMessage(1015);
    return {};
  }
  return *s.tempWide;
}

bool perUserFallback() {
  return ps().perUserFallback;
}

bool setManualTempDir(const std::wstring& dir) {
  std::wstring wideDir = dir;
  if (!tryRoot<wchar_t>(wideDir, false, true, false)) return false;
  bool clean = false;
  std::string narrowDir = win::narrow(dir, &clean);
  bool usable = clean && tryRoot<char>(narrowDir, false, true, false);
  if (!usable) {
    narrowDir = win::narrow(shortPathName(dir), &clean);
    usable = clean && tryRoot<char>(narrowDir, false, true, false);
  }
  if (!usable) return false;
  ps().manualWide = wideDir;
  ps().manualNarrow = narrowDir;
  return true;
}

const std::string& manualTempDirNarrow() {
  return ps().manualNarrow;
}

std::string tempFileName() {
  std::string root = tempRoot();
  logLine(L"tempPath is %S", root.c_str());
  char name[MAX_PATH + 1] = {};
  std::string result;
  if (::GetTempFileNameA(root.c_str(), "jwr", 0, name)) {
    result = name;
  } else {
    logLine(L"GetTempFileName failed (last error %d)", int(::GetLastError()));
    if (root.empty() || (root.back() != '\\' && root.back() != '/')) root += '\\';
    result = root + "jwr" + std::to_string(randomNumber());
  }
  logLine(L"tempFile is %S", result.c_str());
  return result;
}

void createExtractionDir() {
  RunState& rs = runState();
  for (int attempt = 0; attempt < 10; ++attempt) {
    std::string dir = tempFileName() + "_dir" + std::to_string(long(std::time(nullptr)));
    logLine(L"Temp dir3: %S", dir.c_str());
    if (::CreateDirectoryA(dir.c_str(), nullptr)) {
      rs.extractionDir = dir;
      return;
    }
    logLine(L"Could not create dir (%d)", int(::GetLastError()));
  }
  rs.extractionDir.clear();
  fatalMessage(1009, std::string_view("7"));
}

void emptyDir(const std::string& dir, bool recurse) {
  if (dir.empty() || dir[0] == '.') return;
  const std::wstring full = fullPathOf(win::wide(dir));
  // The extraction directory is a tree of its own; links inside it are never followed.
  emptyTree(full, treeTopLength(full, {full}), recurse ? 1 : 0, true);
}

}  // namespace shipkit::core
