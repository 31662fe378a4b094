// Natives of the Java class ACLHandling: grants an access right on a file or registry key
// to a trustee, merged with the entries the object already has.
#include <jni.h>
#include <windows.h>

// After windows.h, which they build on.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

#include "natives/base/AccountCalls.h"
#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/security/AccessRules.h"
#include "natives/security/AclSteps.h"
#include "win/Unique.h"

namespace shipkit::natives {

namespace {

std::vector<std::uint8_t> copyOf(PSID sid) {
  if (!sid || !::IsValidSid(sid)) return {};
  std::vector<std::uint8_t> bytes(::GetLengthSid(sid));
  if (!::CopySid(DWORD(bytes.size()), bytes.data(), sid)) return {};
  return bytes;
}

}  // namespace

std::vector<std::uint8_t> trusteeSid(int kind, const wchar_t* account) {
  const TrusteeSid rule = trusteeOfKind(kind);
  if (rule.fromAccount) {
    // Only a text beginning with "S-" is a SID string: "WD" or "AU" must not grant to a group.
    AccountSid found = accountSid(account);
    return {found.sid.begin(), found.sid.end()};
  }
  SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, rule.authority}};
  PSID sid = nullptr;
  if (!::AllocateAndInitializeSid(&authority, BYTE(rule.subAuthorityCount), rule.subAuthorities[0],
                                  rule.subAuthorities[1], 0, 0, 0, 0, 0, 0, &sid))
    return {};
  std::vector<std::uint8_t> bytes = copyOf(sid);
  ::FreeSid(sid);
  return bytes;
}

EXPLICIT_ACCESS_W grantEntry(PSID sid, DWORD mask) {
  EXPLICIT_ACCESS_W entry;
  std::memset(&entry, 0, sizeof entry);
  entry.grfAccessPermissions = mask;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  entry.Trustee.pMultipleTrustee = nullptr;
  entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
  return entry;
}

DWORD mergedDacl(EXPLICIT_ACCESS_W& entry, PACL current, PACL* merged) {
  return ::SetEntriesInAclW(1, &entry, current, merged);
}

}  // namespace shipkit::natives

// Prints its failures on standard output ("GetNamedSecurityInfo Error", "SetEntriesInAcl
// Error", "SetNamedSecurityInfo Error") and answers only true or false.
extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_ACLHandling_addACE(
    JNIEnv* env, jclass, jstring path, jboolean isRegistryKey, jboolean read, jboolean write,
    jboolean execute, jboolean all, jint trusteeKind, jstring account) noexcept {
  using namespace shipkit::natives;
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    const WideString object = WideString::from(env, path);
    const WideString name = WideString::from(env, account);
    if (object.failed() || name.failed()) return JNI_FALSE;
    std::vector<std::uint8_t> sid = trusteeSid(trusteeKind, name.get());
    if (sid.empty()) return JNI_FALSE;
    const SE_OBJECT_TYPE type = isRegistryKey ? SE_REGISTRY_KEY : SE_FILE_OBJECT;
    PACL current = nullptr;
    shipkit::win::UniqueLocal descriptor;
    // A null path would address nothing: it fails as an invalid parameter.
    DWORD status = object.isNull()
                       ? DWORD(ERROR_INVALID_PARAMETER)
                       : ::GetNamedSecurityInfoW(object.get(), type, DACL_SECURITY_INFORMATION, nullptr,
                                                 nullptr, &current, nullptr,
                                                 reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
    if (status != ERROR_SUCCESS) {
      std::printf("GetNamedSecurityInfo Error %u %S\n", unsigned(status),
                  object.isNull() ? L"(null)" : object.get());
      std::fflush(stdout);
      return JNI_FALSE;
    }
    EXPLICIT_ACCESS_W entry = grantEntry(sid.data(), accessMaskOf(read, write, execute, all));
    PACL merged = nullptr;
    status = mergedDacl(entry, current, &merged);
    shipkit::win::UniqueLocal mergedOwner(merged);
    if (status != ERROR_SUCCESS) {
      std::printf("SetEntriesInAcl Error %u\n", unsigned(status));
      std::fflush(stdout);
      return JNI_FALSE;
    }
    status = ::SetNamedSecurityInfoW(const_cast<LPWSTR>(object.get()), type, DACL_SECURITY_INFORMATION,
                                     nullptr, nullptr, merged, nullptr);
    if (status != ERROR_SUCCESS) {
      std::printf("SetNamedSecurityInfo Error %u\n", unsigned(status));
      std::fflush(stdout);
      return JNI_FALSE;
    }
    return JNI_TRUE;
  });
}
