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

#include <vector>

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

// LookupAccountNameW, for the group of a new user and every account text.
decltype(&::LookupAccountNameW)& lookupAccountName();

// The SID an account text denotes (accountTextForm): a SID string converted, an account name
// looked up on the local system (a text beginning with "S-" that is no SID string is looked up
// as a name as well). Empty, with the error of the failing call, when there is none: a missing
// or empty text gives ERROR_INVALID_PARAMETER; a text that neither converts nor names an
// account gives the conversion's error when it was meant as a SID string.
struct AccountSid {
  std::vector<unsigned char> sid;
  DWORD error = 0;
};
AccountSid accountSid(const wchar_t* text);

}  // namespace shipkit::natives
