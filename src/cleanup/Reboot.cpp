#include "cleanup/Reboot.h"

#include "win/Unique.h"

namespace shipkit::cleanup {

bool enableShutdownPrivilege() {
  win::UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
    return false;
  TOKEN_PRIVILEGES privileges{};
  if (!::LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) return false;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // Succeeds with ERROR_NOT_ALL_ASSIGNED when the token lacks the privilege.
  ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
  return ::GetLastError() == ERROR_SUCCESS;
}

bool rebootNow(ExitWindowsFn exitWindows) {
  if (!enableShutdownPrivilege()) return false;
  return exitWindows(EWX_REBOOT, 0) != FALSE;
}

void rebootMode(DWORD waitMs, ExitWindowsFn exitWindows) {
  ::Sleep(waitMs);
  rebootNow(exitWindows);
}

}  // namespace shipkit::cleanup
