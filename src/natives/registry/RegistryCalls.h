#pragma once
// The Windows calls of the registry natives that Wine cannot show truthfully (privilege
// adjustment, hive save and restore), that need a failure to be forced (writing a value) or
// whose choice must be observable (the two ways of deleting a key). The natives call them
// through this table; tests may replace entries and must put them back.

#include <windows.h>

namespace shipkit::natives {

using RegDeleteKeyExWFn = LSTATUS(WINAPI*)(HKEY parent, LPCWSTR name, REGSAM view, DWORD reserved);

struct RegistryCalls {
  decltype(&::OpenProcessToken) openProcessToken;
  decltype(&::AdjustTokenPrivileges) adjustTokenPrivileges;
  decltype(&::RegSaveKeyW) saveKey;
  decltype(&::RegRestoreKeyW) restoreKey;
  decltype(&::RegSetValueExW) setValue;
  decltype(&::RegDeleteKeyW) deleteKey;
  // RegDeleteKeyExW of an already loaded advapi32, or null.
  RegDeleteKeyExWFn (*findDeleteKeyEx)();
};

RegistryCalls& registryCalls();

}  // namespace shipkit::natives
