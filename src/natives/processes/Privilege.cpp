#include "natives/processes/Privilege.h"

#include <windows.h>

#include "win/Unique.h"

namespace shipkit::natives {

bool setPrivilege(const wchar_t* name, bool enable) {
  win::UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
    return false;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  if (!::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return false;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (!::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof privileges, nullptr, nullptr))
    return false;
  // Success can still mean ERROR_NOT_ALL_ASSIGNED: the token lacks the privilege.
  return ::GetLastError() == ERROR_SUCCESS;
}

}  // namespace shipkit::natives
