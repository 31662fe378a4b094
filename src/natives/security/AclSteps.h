#pragma once
// The steps of ACLHandling.addACE before the security descriptor is written back: the
// trustee's SID and the new DACL with the granted entry merged into the current one. Apart
// so that they can be checked where the system does not store file ACLs.

#include <windows.h>

// After windows.h, which they build on.
#include <aclapi.h>

#include <cstdint>
#include <vector>

namespace shipkit::natives {

// The trustee's SID bytes by kind (kind 3: the account, as a SID string or an account name);
// empty when there is none.
std::vector<std::uint8_t> trusteeSid(int kind, const wchar_t* account);

// The explicit-access entry that grants `mask` to `sid`, inherited by sub-containers and
// objects.
EXPLICIT_ACCESS_W grantEntry(PSID sid, DWORD mask);

// SetEntriesInAclW with that one entry over `current`; the new DACL is freed with LocalFree.
DWORD mergedDacl(EXPLICIT_ACCESS_W& entry, PACL current, PACL* merged);

}  // namespace shipkit::natives
