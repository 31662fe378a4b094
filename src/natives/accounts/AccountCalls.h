#pragma once
// The account functions of the Win32UserInfo natives that Wine only pretends to provide
// (the local user and group functions of netapi32, the account rights of the local security
// policy) and the account-name look-up they share. Each entry is resolved by name on first
// use and null when its library or export is missing; tests may replace entries and must put
// them back.

#include <windows.h>
// windows.h first
#include <lm.h>
#include <ntsecapi.h>

namespace shipkit::natives {

struct NetApiCalls {
  decltype(&::NetLocalGroupAdd) localGroupAdd;
  decltype(&::NetLocalGroupGetInfo) localGroupGetInfo;
  decltype(&::NetApiBufferFree) apiBufferFree;
  decltype(&::NetUserAdd) userAdd;
  decltype(&::NetUserGetInfo) userGetInfo;
  decltype(&::NetLocalGroupAddMembers) localGroupAddMembers;
  decltype(&::NetUserDel) userDel;
  decltype(&::NetLocalGroupDel) localGroupDel;
};
// From "netapi32.dll", loaded from the system directory when the process does not have it.
NetApiCalls& netApiCalls();

struct LsaCalls {
  decltype(&::LsaOpenPolicy) openPolicy;
  decltype(&::LsaAddAccountRights) addAccountRights;
  decltype(&::LsaRemoveAccountRights) removeAccountRights;
  decltype(&::LsaClose) close;
};
// From the "advapi32.dll" that the process has loaded.
LsaCalls& lsaCalls();

// LookupAccountNameW, for the group of a new user and the account of a right.
decltype(&::LookupAccountNameW)& lookupAccountName();

}  // namespace shipkit::natives
