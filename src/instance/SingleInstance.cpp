#include "instance/SingleInstance.h"

#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "instance/SemaphoreName.h"
#include "win/Unique.h"

namespace shipkit::instance {

using core::logLine;

namespace {

constexpr const char* kPidsKey = "SOFTWARE\\larkfield\\jarwrap\\pids\\";

struct InstanceState {
  std::string name;
  HANDLE semaphore = nullptr;  // held until the process ends
};

InstanceState& state() {
  static InstanceState s;
  return s;
}

struct Created {
  HANDLE handle;
  DWORD error;
};

Created createSemaphore(const std::string& name) {
  HANDLE h = ::CreateSemaphoreA(nullptr, 1, 1, name.c_str());
  return {h, ::GetLastError()};
}

struct WindowSearch {
  DWORD pid;
  bool restore;
};

BOOL CALLBACK activateWindow(HWND window, LPARAM param) {
  const auto* search = reinterpret_cast<const WindowSearch*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != search->pid || !::IsWindowVisible(window)) return TRUE;
  logLine(L"found window %p", static_cast<void*>(window));
  if (::IsIconic(window) && search->restore) {
    logLine(L"restore");
    // Asynchronous: the other process may have stopped pumping messages, and a
    // synchronous restore would wait for it.
    ::ShowWindowAsync(window, SW_RESTORE);
  }
  logLine(L"foreground");
  ::SetForegroundWindow(window);
  logLine(L"popup");
  ::SetForegroundWindow(::GetLastActivePopup(window));
  logLine(L"done");
  return TRUE;
}

}  // namespace

void recordInstancePid(const std::string& normalizedPath, DWORD pid) {
  win::UniqueHkey key;
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, kPidsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
    return;
  ::RegSetValueExA(key.get(), normalizedPath.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pid),
                   sizeof pid);
}

DWORD readInstancePid(const std::string& normalizedPath) {
  win::UniqueHkey key;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, kPidsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return 0;
  DWORD pid = 0;
  DWORD size = sizeof pid;
  if (::RegQueryValueExA(key.get(), normalizedPath.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&pid),
                         &size) != ERROR_SUCCESS ||
      size != sizeof pid)
    return 0;
  return pid;
}

DWORD waitForInstancePid(const std::string& normalizedPath, int retries, DWORD intervalMs) {
  DWORD pid = readInstancePid(normalizedPath);
  for (int i = 0; pid == 0 && i < retries; ++i) {
    ::Sleep(intervalMs);
    pid = readInstancePid(normalizedPath);
  }
  return pid;
}

void activateProcessWindows(DWORD pid, bool restoreMinimized) {
  WindowSearch search{pid, restoreMinimized};
  ::EnumWindows(activateWindow, reinterpret_cast<LPARAM>(&search));
}

void initInstanceControl() {
  InstanceState& s = state();
  const std::string path = normalizeInstancePath(core::resolvePath(core::launcherPath(), false));
  const SemaphoreBase base = semaphoreBaseName(path, core::configInt(158) != 0);
  if (base.digested) logLine(L"launcher path too long for a semaphore name, using %S", base.name.c_str());

  if (core::configInt(10005) == 0) {
    Created c{};
    for (int i = 0;; ++i) {
      s.name = base.name + std::to_string(i);
      c = createSemaphore(s.name);
      if (c.error != ERROR_ALREADY_EXISTS || i > kMaxInstanceNumber) break;
      if (c.handle) ::CloseHandle(c.handle);
    }
    s.semaphore = c.handle;
    logLine(L"semaphore name %S, code %d, value %p", s.name.c_str(), int(c.error),
            static_cast<void*>(c.handle));
    return;
  }

  logLine(L"single instance mode");
  s.name = base.name;
  Created c = createSemaphore(s.name);
  logLine(L"semaphore name %S, code %d, value %p", s.name.c_str(), int(c.error),
          static_cast<void*>(c.handle));
  if (c.handle && c.error == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(c.handle);
    const DWORD other = waitForInstancePid(path, 50, 100);
    logLine(L"other pid %d", int(other));
    if (other != 0 && core::configInt(10008) != 0) activateProcessWindows(other, true);
    logLine(L"exiting");
    core::fatalExit(0);
  }
  s.semaphore = c.handle;
  recordInstancePid(path, ::GetCurrentProcessId());
}

std::string semaphoreName() {
  const InstanceState& s = state();
  return s.semaphore ? s.name : std::string();
}

}  // namespace shipkit::instance
