// The Misc and Win32Handle natives against real processes and windows under Wine, called
// through the fake JNI environment as the virtual machine calls them after registerNatives.
// The processes are started from build/out/testing/testwindow.exe (a titled, hidden,
// stubborn or untitled window) and ended at the end of each test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <jni.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "NativeCall.h"
#include "Vm.h"
#include "natives/base/registration.h"
#include "natives/processes/MiscCalls.h"
#include "natives/processes/ProcessList.h"
#include "natives/processes/SystemHandles.h"
#include "win/Text.h"

namespace {

using nlohmann::json;
using shipkit::win::fromUtf8;
using shipkit::win::toUtf8;

constexpr char kWindowInfo[] = "com/shipkit/api/windows/WindowInfo";
constexpr char kWindowClass[] = "ShipkitTestWindow";

std::wstring uniqueName(const wchar_t* what) {
  static int n = 0;
  return std::wstring(what) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++n);
}

std::wstring testWindowExe() {
  return L"Z:" + fromUtf8(TESTWINDOW_EXE);
}

// A testwindow.exe process; its window exists once ready() says so.
class Helper {
 public:
  Helper(const std::string& mode, const std::string& title = "shipkit test window") : title_(title) {
    const std::wstring eventName = L"Local\\" + uniqueName(L"shipkit-testwindow");
    ready_ = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    std::wstring command = L"\"" + testWindowExe() + L"\" " + fromUtf8(mode) + L" \"" + fromUtf8(title) +
                           L"\" " + eventName + L" 60";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_))
      CloseHandle(pi_.hThread);
    else
      startError_ = GetLastError();
  }
  ~Helper() {
    CloseHandle(ready_);
    if (!pi_.hProcess) return;
    if (running()) TerminateProcess(pi_.hProcess, 9);
    WaitForSingleObject(pi_.hProcess, 10000);
    CloseHandle(pi_.hProcess);
  }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

  // Waits (bounded) until the helper's window exists.
  bool ready() const {
    if (!pi_.hProcess) return false;
    HANDLE waits[] = {ready_, pi_.hProcess};
    return WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
  }
  // Why ready() failed, for the failure message.
  std::string state() const {
    if (!pi_.hProcess) return "not started (error " + std::to_string(startError_) + ")";
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code == STILL_ACTIVE ? "running without a window" : "ended with code " + std::to_string(code);
  }
  int pid() const { return int(pi_.dwProcessId); }
  bool running() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
  // Whether the process ends within `ms` (a bounded wait on its handle).
  bool endsWithin(DWORD ms) const { return WaitForSingleObject(pi_.hProcess, ms) == WAIT_OBJECT_0; }
  const std::string& title() const { return title_; }
  HWND window() const {
    struct Find {
      DWORD pid;
      HWND found;
    } find{pi_.dwProcessId, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
          auto* f = reinterpret_cast<Find*>(p);
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          if (pid != f->pid) return TRUE;
          f->found = w;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.found;
  }

 private:
  PROCESS_INFORMATION pi_{};
  std::string title_;
  HANDLE ready_ = nullptr;
  DWORD startError_ = 0;
};

// Polls (bounded) until `window` is the foreground window: activation across processes is
// asynchronous. Messages of this thread are dispatched meanwhile.
bool becomesForeground(HWND window) {
  for (ULONGLONG end = GetTickCount64() + 10000; GetTickCount64() < end; Sleep(5)) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (GetForegroundWindow() == window) return true;
  }
  return false;
}

// A process id that no process has.
constexpr int kMissingPid = 0x7FFFFFF0;

// The natives bound in a fake virtual machine through the launcher's registerNatives.
class ProcessNatives : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(wintest::registerAllNatives(vm_)); }

  // Calls <Class>.<method>, checked as every native call is.
  json call(const std::string& target, const json& args) {
    return wintest::checkedNativeCall(vm_, target, args)["result"];
  }

  fakejvm::Vm vm_;
};

// ---------------------------------------------------------------------------------------
// terminateProcesses0

struct Termination {
  const char* name;
  std::vector<const char*> modes;  // one helper per mode
  bool addMissingId;
  bool force;
  int timeoutMs;
  int expected;
  bool helpersEnd;
  bool addOwnId = false;  // this process's id too, with a visible window of its own
};

void PrintTo(const Termination& t, std::ostream* os) {
  *os << t.name;
}

class Terminate : public ProcessNatives, public ::testing::WithParamInterface<Termination> {};

TEST_P(Terminate, AnswersTheStatusAndEndsWhatItShould) {
  const Termination& t = GetParam();
  std::vector<std::unique_ptr<Helper>> helpers;
  json ids = json::array();
  for (const char* mode : t.modes) helpers.push_back(std::make_unique<Helper>(mode));
  for (const auto& h : helpers) {
    ASSERT_TRUE(h->ready()) << h->state();
    ids.push_back(h->pid());
  }
  if (t.addMissingId) ids.push_back(kMissingPid);
  HWND own = nullptr;
  if (t.addOwnId) {
    own = CreateWindowExW(0, L"STATIC", L"shipkit own window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100,
                          100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(own, nullptr);
    ids.push_back(int(GetCurrentProcessId()));
  }

  EXPECT_EQ(call("Misc.terminateProcesses0", {ids, t.force, t.timeoutMs}), t.expected);
  if (own) {
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, own, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << "asked to close its own window";
    DestroyWindow(own);
  }
  for (const auto& h : helpers) {
    if (t.helpersEnd) {
      EXPECT_TRUE(h->endsWithin(10000)) << "process " << h->pid() << " still runs";
    } else {
      // Nothing was posted (or the close was ignored): the process is still there a while later.
      EXPECT_FALSE(h->endsWithin(500)) << "process " << h->pid() << " ended";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Terminate,
    ::testing::Values(Termination{"PoliteAllEndInTime", {"titled", "titled"}, false, false, 20000, 1, true},
                      Termination{"PoliteHiddenWindowOnlyAtOnce", {"hidden"}, false, false, 20000, 0, false},
                      Termination{"PoliteStubbornTimesOut", {"stubborn"}, false, false, 300, 3, false},
                      Termination{"PoliteMissingId", {}, true, false, 1000, 0, false},
                      // 65 processes: the wait runs in groups of 64 within the one time-out.
                      Termination{"PoliteMoreThan64", std::vector<const char*>(65, "titled"), false, false,
                                  60000, 1, true},
                      Termination{"PoliteEmpty", {}, false, false, 1000, 1, false},
                      // The own process is neither asked to close nor waited for: status 0 at
                      // once, while the other listed process is still asked.
                      Termination{"PoliteOwnId", {"titled"}, false, false, 3000, 0, true, true},
                      Termination{"ForcedAll", {"titled", "stubborn", "hidden"}, false, true, 0, 1, true},
                      Termination{"ForcedMissingId", {"stubborn"}, true, true, 0, 0, true},
                      Termination{"ForcedEmpty", {}, false, true, 0, 1, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Killing its own process would end it with exit code 0, which a test runner takes for a
// pass: the call runs in a child of the test (a death test) that reports the status through
// its exit code.
TEST_F(ProcessNatives, ForcedNeverEndsTheOwnProcess) {
  const json ids = {int(GetCurrentProcessId())};
  EXPECT_EXIT(std::exit(10 + call("Misc.terminateProcesses0", {ids, true, 0}).get<int>()),
              ::testing::ExitedWithCode(10), "");
}

// ---------------------------------------------------------------------------------------
// Windows of other processes

// The title of the process's last invisible titled top-level window, read independently.
std::string lastInvisibleTitle(int pid) {
  struct Search {
    DWORD pid;
    std::string title;
  } search{DWORD(pid), {}};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        wchar_t title[4096];
        const int n = GetWindowTextW(w, title, 4096);
        if (owner == s->pid && n > 0 && !IsWindowVisible(w)) s->title = toUtf8(std::wstring_view(title, n));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.title;
}

TEST_F(ProcessNatives, TitlesAndWindowInformationOfOtherProcesses) {
  Helper titled("titled", "shipkit titled \u00e9"), hidden("hidden", "shipkit hidden"), untitled("untitled");
  ASSERT_TRUE(titled.ready()) << titled.state();
  ASSERT_TRUE(hidden.ready()) << hidden.state();
  ASSERT_TRUE(untitled.ready()) << untitled.state();

  EXPECT_EQ(call("Misc.getWindowTitle0", {titled.pid()}), titled.title());
  // Every GUI thread also owns a hidden "Default IME" window (on Windows too): without a
  // visible titled window the answer is the title of the last invisible titled one.
  EXPECT_EQ(call("Misc.getWindowTitle0", {hidden.pid()}), lastInvisibleTitle(hidden.pid()));
  EXPECT_EQ(call("Misc.getWindowTitle0", {untitled.pid()}), lastInvisibleTitle(untitled.pid()));
  EXPECT_NE(lastInvisibleTitle(untitled.pid()), "");
  EXPECT_EQ(call("Misc.getWindowTitle0", {kMissingPid}), "");

  const json info = call("Misc.getTopLevelWindows0", {kWindowInfo, titled.pid()});
  ASSERT_TRUE(info.is_array() && info.size() == 1) << info.dump();
  EXPECT_EQ(info[0]["class"], kWindowInfo);
  EXPECT_EQ(info[0]["constructor"], "(JILjava/lang/String;Ljava/lang/String;)V");
  const HWND window = titled.window();
  const json expectedArgs = {std::int64_t(reinterpret_cast<std::intptr_t>(window)),
                             std::int32_t(GetWindowLongW(window, GWL_STYLE)), kWindowClass, titled.title()};
  EXPECT_EQ(info[0]["args"], expectedArgs);

  EXPECT_EQ(call("Misc.getTopLevelWindows0", {kWindowInfo, untitled.pid()}), json::array({nullptr}))
      << "counted in the length, not filled";
  EXPECT_EQ(call("Misc.getTopLevelWindows0", {kWindowInfo, hidden.pid()}), nullptr);
  EXPECT_EQ(call("Misc.getTopLevelWindows0", {kWindowInfo, kMissingPid}), nullptr);
  // A class without the window information constructor.
  EXPECT_EQ(call("Misc.getTopLevelWindows0", {"java/lang/String", titled.pid()}), nullptr);
}

// The launcher's own windows: to the front, restored from minimized.
TEST_F(ProcessNatives, OwnWindowsComeToTheFront) {
  Helper other("titled");
  ASSERT_TRUE(other.ready()) << other.state();
  HWND own = CreateWindowExW(0, L"STATIC", L"shipkit own window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100,
                             100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(own, nullptr);
  SetForegroundWindow(other.window());
  ASSERT_TRUE(becomesForeground(other.window())) << "the test needs a foreground window of another process";
  call("Misc.toFront0", json::array());
  EXPECT_TRUE(becomesForeground(own));

  SetForegroundWindow(other.window());
  ASSERT_TRUE(becomesForeground(other.window()));
  ShowWindow(own, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(own));
  call("Misc.setForegroundWindow0", {std::int64_t(reinterpret_cast<std::intptr_t>(own))});
  EXPECT_FALSE(IsIconic(own));
  EXPECT_TRUE(becomesForeground(own));
  DestroyWindow(own);
}

// ---------------------------------------------------------------------------------------
// Processes, environment and machine facts

std::wstring ownExePath() {
  wchar_t path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  return std::wstring(path, n);
}

TEST_F(ProcessNatives, RunningModulesListEveryProcessAsIdAndPath) {
  Helper helper("hidden");
  ASSERT_TRUE(helper.ready()) << helper.state();
  for (bool debugPrivilegeOff : {false, true}) {
    const json modules = call("Misc.getRunningModules0", {debugPrivilegeOff});
    ASSERT_TRUE(modules.is_array()) << modules.dump();
    const std::string own = std::to_string(GetCurrentProcessId()) + " " + toUtf8(ownExePath());
    bool foundOwn = false, foundHelper = false;
    for (const json& entry : modules) {
      const std::string text = entry.get<std::string>();
      const std::size_t space = text.find(' ');
      ASSERT_TRUE(space != std::string::npos && space > 0 && space + 1 < text.size()) << text;
      EXPECT_EQ(text.find_first_not_of("0123456789"), space) << text;
      foundOwn |= _stricmp(text.c_str(), own.c_str()) == 0;
      foundHelper |=
          text.starts_with(std::to_string(helper.pid()) + " ") && text.ends_with("\\testwindow.exe");
    }
    EXPECT_TRUE(foundOwn) << own << " not in " << modules.dump().substr(0, 2000);
    EXPECT_TRUE(foundHelper) << modules.dump().substr(0, 2000);
  }
}

// Both enumerations by themselves: the one by process ids and the Toolhelp snapshot that
// stands in when the first produces nothing.
TEST(RunningModules, BothEnumerationsListThisProcess) {
  const std::wstring own = std::to_wstring(GetCurrentProcessId()) + L" " + ownExePath();
  for (const auto& [name, entries] :
       {std::pair{"by ids", shipkit::natives::runningModulesByIds()},
        std::pair{"by snapshot", shipkit::natives::runningModulesBySnapshot()}}) {
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                            [&](const std::wstring& e) { return _wcsicmp(e.c_str(), own.c_str()) == 0; }))
        << name << ": " << toUtf8(own);
  }
}

TEST_F(ProcessNatives, EnvironmentPairsFollowTheBlockOrder) {
  const std::wstring name = uniqueName(L"SHIPKIT_ENV");
  ASSERT_TRUE(SetEnvironmentVariableW(name.c_str(), L"a=b \u00e9"));
  json expected = json::array();
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p; p += wcslen(p) + 1) expected.push_back(toUtf8(p));
  FreeEnvironmentStringsW(block);
  const json pairs = call("Misc.getEnvVarPairs0", json::array());
  SetEnvironmentVariableW(name.c_str(), nullptr);
  EXPECT_EQ(pairs, expected);
  EXPECT_NE(std::find(pairs.begin(), pairs.end(), toUtf8(name) + "=a=b \u00e9"), pairs.end());
}

TEST_F(ProcessNatives, MachineFacts) {
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
  EXPECT_EQ(call("Misc.getPhysicalMemory0", json::array()), std::int64_t(memory.ullTotalPhys));

  wchar_t missing[] = L"?:\\dir";
  const DWORD drives = GetLogicalDrives();
  for (int i = 25; i >= 3; --i)
    if (!(drives & (1u << i))) missing[0] = wchar_t(L'A' + i);
  ASSERT_NE(missing[0], L'?');
  ULARGE_INTEGER freeC{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &freeC, nullptr, nullptr));
  const json onC = call("Misc.getFreeDiskSpace0", {"C:\\windows"});
  EXPECT_GT(onC.get<std::int64_t>(), 0);
  EXPECT_LT(std::abs(onC.get<std::int64_t>() - std::int64_t(freeC.QuadPart)), std::int64_t(1) << 30);
  EXPECT_EQ(call("Misc.getFreeDiskSpace0", {toUtf8(missing)}), -1);
  EXPECT_GT(call("Misc.getFreeDiskSpace0", {nullptr}).get<std::int64_t>(), 0)
      << "the current directory's volume";
}

// PendingFileRenameOperations as REG_MULTI_SZ strings; empty when the value is missing.
struct PendingRenames {
  static constexpr wchar_t kKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
  static std::vector<std::wstring> read() {
    std::vector<std::wstring> out;
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                     nullptr, &size) != ERROR_SUCCESS)
      return out;
    std::wstring data(size / 2 + 1, L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                     data.data(), &size) != ERROR_SUCCESS)
      return out;
    for (std::size_t pos = 0; pos < size / 2;) {
      std::size_t end = data.find(L'\0', pos);
      if (end == std::wstring::npos || end >= size / 2) break;
      out.push_back(data.substr(pos, end - pos));
      pos = end + 1;
    }
    if (!out.empty() && out.back().empty()) out.pop_back();  // the list's terminating zero
    return out;
  }
};

// The scheduled operations are taken out again: only this test's entries are removed.
TEST_F(ProcessNatives, MoveUntilRebootWritesPendingRenames) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring source = std::wstring(temp) + uniqueName(L"shipkit-move") + L".txt";
  const std::wstring target = source + L".moved";
  CloseHandle(CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, PendingRenames::kKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  std::vector<BYTE> saved(1 << 16);
  DWORD savedType = 0, savedSize = DWORD(saved.size());
  const bool hadValue = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &savedType,
                                         saved.data(), &savedSize) == ERROR_SUCCESS;

  EXPECT_EQ(call("Misc.moveWithDelayUntilReboot0", {toUtf8(source), nullptr}), true);
  EXPECT_EQ(call("Misc.moveWithDelayUntilReboot0", {toUtf8(source), toUtf8(target)}), true);
  EXPECT_EQ(call("Misc.moveWithDelayUntilReboot0", {nullptr, nullptr}), false);
  const std::vector<std::wstring> pending = PendingRenames::read();

  if (hadValue)
    RegSetValueExW(key, L"PendingFileRenameOperations", 0, savedType, saved.data(), savedSize);
  else
    RegDeleteValueW(key, L"PendingFileRenameOperations");
  RegCloseKey(key);
  DeleteFileW(source.c_str());

  const std::vector<std::wstring> tail = {L"\\??\\" + source, L"", L"\\??\\" + source, L"\\??\\" + target};
  ASSERT_GE(pending.size(), tail.size());
  EXPECT_EQ(std::vector<std::wstring>(pending.end() - 4, pending.end()), tail) << "a deletion, then a move";
}

// ---------------------------------------------------------------------------------------
// reboot0 and the setting-change broadcast

UINT rebootFlags = 0xdeadbeef;
DWORD rebootReason = 0xdeadbeef;
int rebootCalls = 0;
BOOL WINAPI recordReboot(UINT flags, DWORD reason) {
  rebootFlags = flags;
  rebootReason = reason;
  ++rebootCalls;
  return TRUE;
}

TEST_F(ProcessNatives, RebootEnablesTheShutdownPrivilegeAndAsksForARestart) {
  auto& calls = shipkit::natives::miscCalls();
  const auto real = calls.exitWindowsEx;
  calls.exitWindowsEx = recordReboot;  // never the real call: under Wine it ends the whole prefix
  call("Misc.reboot0", json::array());
  calls.exitWindowsEx = real;
  EXPECT_EQ(rebootCalls, 1);
  EXPECT_EQ(rebootFlags, UINT(EWX_REBOOT));
  EXPECT_EQ(rebootReason, 0u);
}

std::vector<std::wstring> settingChanges;
LRESULT CALLBACK recordSettingChange(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTINGCHANGE && wParam == 0 && lParam)
    settingChanges.push_back(reinterpret_cast<const wchar_t*>(lParam));
  return DefWindowProcW(w, message, wParam, lParam);
}

TEST_F(ProcessNatives, SettingChangeReachesTopLevelWindows) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = recordSettingChange;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"ShipkitSettingChangeProbe";
  RegisterClassW(&cls);
  HWND probe = CreateWindowExW(0, cls.lpszClassName, L"probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                               cls.hInstance, nullptr);
  ASSERT_NE(probe, nullptr);
  settingChanges.clear();
  call("Misc.broadcastSettingChange0", json::array());
  DestroyWindow(probe);
  EXPECT_EQ(settingChanges, std::vector<std::wstring>{L"Environment"});
}

// ---------------------------------------------------------------------------------------
// Win32Handle

// Standard output of this process (the natives print there) captured into a file.
class StdoutCapture {
 public:
  StdoutCapture() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + uniqueName(L"shipkit-stdout") + L".txt";
    std::fflush(stdout);
    saved_ = _dup(1);
    const int fd = _wopen(path_.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, 0600);
    _dup2(fd, 1);
    _close(fd);
  }
  std::string finish() {
    std::fflush(stdout);
    _dup2(saved_, 1);
    _close(saved_);
    std::string text;
    if (FILE* f = _wfopen(path_.c_str(), L"rb")) {
      char buf[4096];
      for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
      std::fclose(f);
    }
    DeleteFileW(path_.c_str());
    return text;
  }

 private:
  std::wstring path_;
  int saved_ = -1;
};

TEST_F(ProcessNatives, OpenFileHandlesAreListedAndClosed) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring path = std::wstring(temp) + uniqueName(L"shipkit-handles") + L".txt";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key), ERROR_SUCCESS);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);

  const json listed = call("Win32Handle.list0", json::array());
  ASSERT_TRUE(listed.is_array() && listed.size() == 2) << listed.dump().substr(0, 500);
  const json& handles = listed[0]["int[]"];
  const json& names = listed[1];
  ASSERT_EQ(handles.size(), names.size());
  // Windows names the file \Device\HarddiskVolumeN\...; Wine says \??\C:\... : only the part
  // below the drive is the same.
  const std::string below = toUtf8(path.substr(2));
  int fileIndex = -1;
  for (std::size_t i = 0; i < handles.size(); ++i) {
    EXPECT_NE(handles[i], std::int64_t(reinterpret_cast<std::intptr_t>(key))) << "a key is not a file";
    EXPECT_NE(handles[i], std::int64_t(reinterpret_cast<std::intptr_t>(event))) << "an event is not a file";
    if (handles[i] == std::int64_t(reinterpret_cast<std::intptr_t>(file))) fileIndex = int(i);
  }
  ASSERT_GE(fileIndex, 0) << listed.dump().substr(0, 2000);
  EXPECT_TRUE(names[fileIndex].get<std::string>().ends_with(below)) << names[fileIndex] << " vs " << below;

  const int value = int(reinterpret_cast<std::intptr_t>(file));
  EXPECT_EQ(call("Win32Handle.close0", {value}), true);
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(file, &flags)) << "the handle is closed";
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "deleted on close";
  EXPECT_EQ(call("Win32Handle.close0", {value}), false);
  EXPECT_EQ(call("Win32Handle.close0", {-1}), false) << "the current process's pseudo handle is not open";
  RegCloseKey(key);
  CloseHandle(event);
}

// Asking for the name of a pipe end waits while a synchronous read on it is in progress, as
// it is on the stream of a child process that a Java thread reads. Both ends of such a pipe
// are skipped, and the listing ends in time; it runs on a thread of its own so that a hang
// fails the test instead of stopping it (the write at the end lets the read, and a waiting
// query, go on).
TEST_F(ProcessNatives, PipeEndsWithAReadInProgressAreSkipped) {
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  HANDLE reading = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread reader([&] {
    SetEvent(reading);
    char byte = 0;
    DWORD got = 0;
    ReadFile(readEnd, &byte, 1, &got, nullptr);
  });
  ASSERT_EQ(WaitForSingleObject(reading, 10000), WAIT_OBJECT_0);
  // The read itself cannot be observed from here: a short pause lets the reader enter it.
  Sleep(200);
  json listed;
  HANDLE listedDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread lister([&] {
    listed = vm_.callNative({{"call", "Win32Handle.list0"}, {"args", json::array()}});
    SetEvent(listedDone);
  });
  const bool inTime = WaitForSingleObject(listedDone, 10000) == WAIT_OBJECT_0;
  DWORD put = 0;
  EXPECT_TRUE(WriteFile(writeEnd, "x", 1, &put, nullptr));
  reader.join();
  lister.join();
  EXPECT_TRUE(inTime) << "list0 waited for the read";
  ASSERT_TRUE(listed["result"].is_array()) << listed.dump().substr(0, 500);
  EXPECT_EQ(listed["unreleased"], 0);
  EXPECT_EQ(listed["localRefsLeft"], 0);
  for (const json& value : listed["result"][0]["int[]"]) {
    EXPECT_NE(value, std::int64_t(reinterpret_cast<std::intptr_t>(readEnd))) << "the end being read";
    EXPECT_NE(value, std::int64_t(reinterpret_cast<std::intptr_t>(writeEnd))) << "the other end";
  }
  for (HANDLE h : {readEnd, writeEnd, reading, listedDone}) CloseHandle(h);
}

// NtQuerySystemInformation as a system without the extended handle list answers it, with
// a buffer that must grow twice more than the real one needs.
enum class QueryBehaviour { Real, NoExtendedForm, Denied };
QueryBehaviour queryBehaviour = QueryBehaviour::Real;
std::vector<ULONG> queriedClasses;
LONG NTAPI fakeQuery(ULONG infoClass, PVOID buffer, ULONG bytes, PULONG returned) {
  using Fn = shipkit::natives::NtQuerySystemInformationFn;
  static const auto real = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  queriedClasses.push_back(infoClass);
  if (queryBehaviour == QueryBehaviour::Denied) return LONG(0xC0000022L);
  if (queryBehaviour == QueryBehaviour::NoExtendedForm && infoClass == 64) return LONG(0xC0000003L);
  if (bytes < 4 * 65536) return LONG(0xC0000004L);
  return real(infoClass, buffer, bytes, returned);
}

TEST(SystemHandles, ExtendedFormOrTheBasicOneWhereItIsMissing) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring path = std::wstring(temp) + uniqueName(L"shipkit-handle-list") + L".txt";
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // Wine's process ids stay below 65536, so the basic form's 16-bit ids still match here.
  ASSERT_LT(GetCurrentProcessId(), 65536u);
  const struct {
    QueryBehaviour behaviour;
    std::vector<ULONG> classes;
    bool listed;
  } rows[] = {
      {QueryBehaviour::Real, {64, 64, 64}, true},
      {QueryBehaviour::NoExtendedForm, {64, 16, 16, 16}, true},
      {QueryBehaviour::Denied, {64}, false},
  };
  for (const auto& r : rows) {
    queryBehaviour = r.behaviour;
    queriedClasses.clear();
    const auto entries = shipkit::natives::systemHandles(fakeQuery);
    EXPECT_EQ(queriedClasses, r.classes) << int(r.behaviour);
    ASSERT_EQ(entries.has_value(), r.listed) << int(r.behaviour);
    if (!entries) continue;
    const auto own =
        std::find_if(entries->begin(), entries->end(), [&](const shipkit::natives::HandleEntry& e) {
          return e.processId == GetCurrentProcessId() &&
                 e.value == std::uint64_t(reinterpret_cast<std::uintptr_t>(file));
        });
    EXPECT_NE(own, entries->end()) << int(r.behaviour);
  }
  CloseHandle(file);
}

TEST_F(ProcessNatives, DeviceNamesOfDriveLinks) {
  const json c = call("Win32Handle.getDeviceName0", {"\\??\\C:"});
  ASSERT_TRUE(c.is_string()) << c.dump();
  EXPECT_TRUE(c.get<std::string>().starts_with("\\Device\\")) << c;
  wchar_t device[MAX_PATH];
  ASSERT_NE(QueryDosDeviceW(L"C:", device, MAX_PATH), 0u);
  EXPECT_EQ(c, toUtf8(device)) << "the same target as QueryDosDevice";

  EXPECT_EQ(call("Win32Handle.getDeviceName0", {nullptr}), nullptr);
  StdoutCapture out;
  const json missing = call("Win32Handle.getDeviceName0", {"\\??\\shipkit-no-such-link"});
  EXPECT_EQ(missing, nullptr);
  EXPECT_EQ(out.finish(), "could not open link \\??\\shipkit-no-such-link 00000000C0000034\n");
}

}  // namespace
