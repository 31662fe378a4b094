// Natives of the Java class Win32UserInfo: the current user's SID, group membership and
// elevation, starting a program elevated, local users and groups, account names, profile
// directories and account rights. Every account function is found by name at run time; a
// missing one is the method's failure value. The texts and rules live in AccountRules.
#include <jni.h>
#include <windows.h>
// windows.h first
#include <sddl.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "natives/base/AccountCalls.h"
#include "natives/accounts/AccountRules.h"
#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/base/ShellFunctions.h"
#include "win/LateBound.h"
#include "win/Unique.h"

namespace shipkit::natives {

namespace {

// An export of a library the process has already loaded; null when either is missing.
template <typename Fn>
Fn loadedExport(const wchar_t* module, const char* name) {
  HMODULE m = ::GetModuleHandleW(module);
  return shipkit::win::procAddress<Fn>(m, name);
}

template <typename Fn>
Fn netapiExport(const char* name) {
  HMODULE m = win::systemLibrary(L"netapi32.dll");
  return shipkit::win::procAddress<Fn>(m, name);
}

}  // namespace

NetApiCalls& netApiCalls() {
  static NetApiCalls calls{
      netapiExport<decltype(&::NetLocalGroupAdd)>("NetLocalGroupAdd"),
      netapiExport<decltype(&::NetLocalGroupGetInfo)>("NetLocalGroupGetInfo"),
      netapiExport<decltype(&::NetApiBufferFree)>("NetApiBufferFree"),
      netapiExport<decltype(&::NetUserAdd)>("NetUserAdd"),
      netapiExport<decltype(&::NetUserGetInfo)>("NetUserGetInfo"),
      netapiExport<decltype(&::NetLocalGroupAddMembers)>("NetLocalGroupAddMembers"),
      netapiExport<decltype(&::NetUserDel)>("NetUserDel"),
      netapiExport<decltype(&::NetLocalGroupDel)>("NetLocalGroupDel"),
  };
  return calls;
}

LsaCalls& lsaCalls() {
  static LsaCalls calls{
      loadedExport<decltype(&::LsaOpenPolicy)>(L"advapi32.dll", "LsaOpenPolicy"),
      loadedExport<decltype(&::LsaAddAccountRights)>(L"advapi32.dll", "LsaAddAccountRights"),
      loadedExport<decltype(&::LsaRemoveAccountRights)>(L"advapi32.dll", "LsaRemoveAccountRights"),
      loadedExport<decltype(&::LsaClose)>(L"advapi32.dll", "LsaClose"),
  };
  return calls;
}

decltype(&::LookupAccountNameW)& lookupAccountName() {
  static decltype(&::LookupAccountNameW) fn = ::LookupAccountNameW;
  return fn;
}

namespace {

constexpr DWORD kNameUnits = 8192;
constexpr DWORD kSidBytes = 8192;

// The token functions, from the loaded advapi32; all or nothing.
struct TokenFunctions {
  decltype(&::AllocateAndInitializeSid) allocateSid = nullptr;
  decltype(&::EqualSid) equalSid = nullptr;
  decltype(&::GetTokenInformation) getTokenInformation = nullptr;
  decltype(&::OpenProcessToken) openProcessToken = nullptr;
  decltype(&::OpenThreadToken) openThreadToken = nullptr;
  explicit operator bool() const {
    return allocateSid && equalSid && getTokenInformation && openProcessToken && openThreadToken;
  }
};

const TokenFunctions& tokenFunctions() {
  static const TokenFunctions fns{
      loadedExport<decltype(&::AllocateAndInitializeSid)>(L"advapi32.dll", "AllocateAndInitializeSid"),
      loadedExport<decltype(&::EqualSid)>(L"advapi32.dll", "EqualSid"),
      loadedExport<decltype(&::GetTokenInformation)>(L"advapi32.dll", "GetTokenInformation"),
      loadedExport<decltype(&::OpenProcessToken)>(L"advapi32.dll", "OpenProcessToken"),
      loadedExport<decltype(&::OpenThreadToken)>(L"advapi32.dll", "OpenThreadToken"),
  };
  return fns;
}

using ConvertSidToStringSidWFn = BOOL(WINAPI*)(PSID sid, LPWSTR* text);
using ConvertStringSidToSidWFn = BOOL(WINAPI*)(LPCWSTR text, PSID* sid);

ConvertSidToStringSidWFn convertSidToString() {
  return loadedExport<ConvertSidToStringSidWFn>(L"advapi32.dll", "ConvertSidToStringSidW");
}
ConvertStringSidToSidWFn convertStringToSid() {
  return loadedExport<ConvertStringSidToSidWFn>(L"advapi32.dll", "ConvertStringSidToSidW");
}

// The calling thread's impersonation token, else the process token.
win::UniqueHandle currentToken(const TokenFunctions& fns) {
  HANDLE token = nullptr;
  if (fns.openThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return win::UniqueHandle(token);
  if (fns.openProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return win::UniqueHandle(token);
  return {};
}

// Token information in two steps: the size query must fail with 122.
enum class TokenRead { Ok, SizeQueryFailed, ReadFailed };
TokenRead readToken(const TokenFunctions& fns, HANDLE token, TOKEN_INFORMATION_CLASS what,
                    std::vector<unsigned char>& buffer) {
  DWORD size = 0;
  if (fns.getTokenInformation(token, what, nullptr, 0, &size) ||
      ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return TokenRead::SizeQueryFailed;
  buffer.assign(size, 0);
  if (!fns.getTokenInformation(token, what, buffer.data(), size, &size)) return TokenRead::ReadFailed;
  return TokenRead::Ok;
}

std::optional<std::wstring> sidText(PSID sid) {
  ConvertSidToStringSidWFn convert = convertSidToString();
  LPWSTR text = nullptr;
  if (!convert || !convert(sid, &text)) return std::nullopt;
  win::UniqueLocal owner(text);
  return std::wstring(text);
}

struct AccountLookup {
  std::wstring name, domain;
  DWORD error = 0;
};

AccountLookup lookUpSid(PSID sid) {
  AccountLookup found;
  std::vector<wchar_t> name(kNameUnits), domain(kNameUnits);
  DWORD nameUnits = kNameUnits, domainUnits = kNameUnits;
  SID_NAME_USE use;
  if (!::LookupAccountSidW(nullptr, sid, name.data(), &nameUnits, domain.data(), &domainUnits, &use)) {
    found.error = ::GetLastError();
    return found;
  }
  found.name = name.data();
  found.domain = domain.data();
  return found;
}

// The SID of a local account name in an 8192-byte buffer, or none.
std::optional<std::vector<unsigned char>> sidOfName(const wchar_t* name) {
  std::vector<unsigned char> sid(kSidBytes, 0);
  std::vector<wchar_t> domain(kNameUnits);
  DWORD sidBytes = kSidBytes, domainUnits = kNameUnits;
  SID_NAME_USE use;
  if (!lookupAccountName()(nullptr, name, sid.data(), &sidBytes, domain.data(), &domainUnits, &use))
    return std::nullopt;
  return sid;
}

jstring javaText(JNIEnv* env, const std::wstring& text) {
  return newJavaString(env, text.c_str(), text.size());
}

// One-time load of "sspicli.dll" before the first elevated start.
volatile bool sspicliLoaded = false;

std::vector<unsigned char> copyOf(PSID sid) {
  if (!sid || !::IsValidSid(sid)) return {};
  std::vector<unsigned char> bytes(::GetLengthSid(sid));
  if (!::CopySid(DWORD(bytes.size()), bytes.data(), sid)) return {};
  return bytes;
}

}  // namespace

AccountSid accountSid(const wchar_t* text) {
  const AccountText form = accountTextForm(text);
  if (form == AccountText::None) return {{}, ERROR_INVALID_PARAMETER};
  DWORD conversionError = 0;
  if (form == AccountText::SidString) {
    PSID converted = nullptr;
    ConvertStringSidToSidWFn toSid = convertStringToSid();
    if (toSid && toSid(text, &converted) && converted) {
      win::UniqueLocal owner(converted);
      return {copyOf(converted), 0};
    }
    conversionError = toSid ? ::GetLastError() : DWORD(ERROR_PROC_NOT_FOUND);
  }
  if (auto byName = sidOfName(text)) return {copyOf(byName->data()), 0};
  return {{}, conversionError ? conversionError : ::GetLastError()};
}

namespace {

// The SID text that decides how an account is written: the caller's text when it is a SID
// string (compared as given), else the SID its name resolved to.
std::wstring sidForRules(const wchar_t* text, const AccountSid& found) {
  if (accountTextForm(text) == AccountText::SidString) return text;
  return sidText(const_cast<unsigned char*>(found.sid.data())).value_or(L"");
}

}  // namespace

}  // namespace shipkit::natives

using namespace shipkit::natives;
namespace win = shipkit::win;

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_isMemberOfGroup0(JNIEnv*, jclass,
                                                                                 jint rid) noexcept {
  return guarded(jboolean(JNI_TRUE), [&]() -> jboolean {
    const TokenFunctions& fns = tokenFunctions();
    if (!fns) return JNI_TRUE;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID group = nullptr;
    if (!fns.allocateSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DWORD(rid), 0, 0, 0, 0, 0, 0, &group))
      return JNI_TRUE;
    struct SidOwner {
      PSID sid;
      ~SidOwner() { ::FreeSid(sid); }
    } owner{group};
    win::UniqueHandle token = currentToken(fns);
    if (!token) return JNI_TRUE;
    std::vector<unsigned char> buffer;
    switch (readToken(fns, token.get(), TokenGroups, buffer)) {
      case TokenRead::SizeQueryFailed:
        return JNI_TRUE;
      case TokenRead::ReadFailed:
        return JNI_FALSE;
      case TokenRead::Ok:
        break;
    }
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
      const SID_AND_ATTRIBUTES& g = groups->Groups[i];
      // Enabled, and not only for deny: a limited token keeps Administrators as deny-only.
      if (fns.equalSid(g.Sid, group) &&
          (g.Attributes & (SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY)) == SE_GROUP_ENABLED)
        return JNI_TRUE;
    }
    return JNI_FALSE;
  });
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_executeElevated0(
    JNIEnv* env, jclass, jstring file, jstring parameters, jstring directory, jint showCommand) noexcept {
  return guarded(jboolean(JNI_FALSE), [&]() -> jboolean {
    WideString program = WideString::from(env, file), args = WideString::from(env, parameters),
               dir = WideString::from(env, directory);
    if (program.failed() || args.failed() || dir.failed()) return JNI_FALSE;
    if (!sspicliLoaded) {
      sspicliLoaded = true;
      win::systemLibrary(L"sspicli.dll");
    }
    HINSTANCE result = shellExecute(nullptr, L"runas", program.get(), args.get(), dir.get(), showCommand);
    return reinterpret_cast<INT_PTR>(result) > 32 ? JNI_TRUE : JNI_FALSE;
  });
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getElevationType0(JNIEnv*, jclass) noexcept {
  return guarded(jint(0), []() -> jint {
    const TokenFunctions& fns = tokenFunctions();
    if (!fns) return 0;
    HANDLE raw = nullptr;
    if (!fns.openProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return 0;
    win::UniqueHandle token(raw);
    DWORD type = 0, size = 0;
    if (!fns.getTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size)) return 0;
    return jint(type);
  });
}

extern "C" JNIEXPORT jstring JNICALL Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_addUser0(
    JNIEnv* env, jclass, jstring userName, jstring password, jstring userComment, jstring groupName,
    jstring groupComment, jboolean createGroup, jboolean failIfGroupExists) noexcept {
  return guarded(jstring(nullptr), [&]() -> jstring {
    const NetApiCalls& net = netApiCalls();
    ConvertSidToStringSidWFn toText = convertSidToString();
    if (!toText || !net.localGroupAdd || !net.localGroupGetInfo || !net.apiBufferFree || !net.userAdd ||
        !net.userGetInfo || !net.localGroupAddMembers)
      return nullptr;
    WideString user = WideString::from(env, userName), secret = WideString::from(env, password),
               comment = WideString::from(env, userComment), group = WideString::from(env, groupName),
               groupText = WideString::from(env, groupComment);
    for (const WideString* s : {&user, &secret, &comment, &group, &groupText})
      if (s->failed()) return nullptr;

    // 1. The group: created, or read when it must exist already.
    bool groupCreated = false;
    if (!group.isNull()) {
      if (createGroup == JNI_TRUE) {
        LOCALGROUP_INFO_1 info{const_cast<wchar_t*>(group.get()), const_cast<wchar_t*>(groupText.get())};
        const NET_API_STATUS status = net.localGroupAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr);
        if (status == 0) {
          groupCreated = true;
        } else if (!groupExistsStatus(status) || failIfGroupExists == JNI_TRUE) {
          return javaText(env, addUserError(AddUserStep::CreateGroup, status));
        }
      } else {
        LPBYTE info = nullptr;
        const NET_API_STATUS status = net.localGroupGetInfo(nullptr, group.get(), 1, &info);
        if (status != 0) return javaText(env, addUserError(AddUserStep::ReadGroup, status));
        net.apiBufferFree(info);
      }
    }

    // 2. The user.
    USER_INFO_1 info{};
    info.usri1_name = const_cast<wchar_t*>(user.get());
    info.usri1_password = const_cast<wchar_t*>(secret.get());
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_comment = const_cast<wchar_t*>(comment.get());
    info.usri1_flags = UF_SCRIPT;
    DWORD badField = 0;
    const NET_API_STATUS added = net.userAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), &badField);
    if (added != 0) return javaText(env, addUserParameterError(added, badField));

    // 3. The user read back, for its SID.
    LPBYTE record = nullptr;
    const NET_API_STATUS read = net.userGetInfo(nullptr, user.get(), 23, &record);
    if (read != 0) return javaText(env, addUserError(AddUserStep::ReadUser, read));
    struct RecordOwner {
      const NetApiCalls& net;
      LPBYTE record;
      ~RecordOwner() { net.apiBufferFree(record); }
    } owner{net, record};
    PSID userSid = reinterpret_cast<USER_INFO_23*>(record)->usri23_user_sid;

    // 4. The user joins the group.
    if (!group.isNull()) {
      LOCALGROUP_MEMBERS_INFO_0 member{userSid};
      const NET_API_STATUS status =
          net.localGroupAddMembers(nullptr, group.get(), 0, reinterpret_cast<LPBYTE>(&member), 1);
      if (!memberAddedStatus(status)) return javaText(env, addUserError(AddUserStep::AddToGroup, status));
    }

    // 5. The result: the user's SID and, when it can be found, the group's.
    std::optional<std::wstring> userText = sidText(userSid);
    if (!userText) return javaText(env, addUserSidError());
    std::optional<std::wstring> groupSid;
    if (!group.isNull()) {
      if (auto sid = sidOfName(group.get())) groupSid = sidText(sid->data());
    }
    const std::wstring text = addUserSuccess(*userText, groupSid, groupCreated);
    return text.empty() ? nullptr : javaText(env, text);
  });
}

extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_deleteUser0(
    JNIEnv* env, jclass, jstring server, jstring userName) noexcept {
  return guarded(jint(-1), [&]() -> jint {
    auto userDel = netApiCalls().userDel;
    if (!userDel) return -1;
    WideString host = WideString::from(env, server), user = WideString::from(env, userName);
    if (host.failed() || user.failed()) return ERROR_NOT_ENOUGH_MEMORY;
    return jint(userDel(host.get(), user.get()));
  });
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_deleteLocalGroup0(
    JNIEnv* env, jclass, jstring server, jstring groupName) noexcept {
  return guarded(jint(-1), [&]() -> jint {
    auto groupDel = netApiCalls().localGroupDel;
    if (!groupDel) return -1;
    WideString host = WideString::from(env, server), group = WideString::from(env, groupName);
    if (host.failed() || group.failed()) return ERROR_NOT_ENOUGH_MEMORY;
    return jint(groupDel(host.get(), group.get()));
  });
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getAccountName0(JNIEnv* env, jclass,
                                                                                jstring sid,
                                                                                jboolean nameOnly) noexcept {
  return guarded(jstring(nullptr), [&]() -> jstring {
    std::wstring result;
    WideString sidString = WideString::from(env, sid);
    if (!sidString.failed() && ::GetModuleHandleW(L"advapi32.dll")) {
      const std::wstring_view sidView = sidString.isNull() ? L"" : sidString.get();
      if (auto known = sidString.isNull() ? std::nullopt : wellKnownServiceAccount(sidView)) {
        result = *known;
      } else if (convertStringToSid()) {
        AccountSid account = accountSid(sidString.get());
        if (account.sid.empty()) {
          result = spacedCode(account.error);
        } else {
          AccountLookup found = lookUpSid(account.sid.data());
          result = found.error ? spacedCode(found.error)
                               : accountNameText(sidForRules(sidString.get(), account), found.name,
                                                 found.domain, nameOnly == JNI_TRUE);
        }
      }
    }
    return javaText(env, result);
  });
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getUserProfileDirectory0(
    JNIEnv* env, jclass, jstring sid, jstring password) noexcept {
  return guarded(jstring(nullptr), [&]() -> jstring {
    WideString sidString = WideString::from(env, sid), secret = WideString::from(env, password);
    if (sidString.failed() || secret.failed())
      return javaText(env, L" could not convert sid" + spacedCode(ERROR_NOT_ENOUGH_MEMORY));
    HMODULE userenv = ::LoadLibraryExW(L"Userenv.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll");
    if (!userenv || !advapi) {
      const DWORD error = ::GetLastError();
      if (userenv) ::FreeLibrary(userenv);
      return javaText(env, L" could not load library" + spacedCode(error));
    }
    struct LibraryOwner {
      HMODULE module;
      ~LibraryOwner() { ::FreeLibrary(module); }
    } owner{userenv};

    const std::wstring_view sidView = sidString.isNull() ? L"" : sidString.get();
    if (!sidString.isNull() && wellKnownServiceAccount(sidView)) return javaText(env, L" no user account");
    using LogonUserWFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, DWORD, PHANDLE);
    using GetUserProfileDirectoryWFn = BOOL(WINAPI*)(HANDLE, LPWSTR, LPDWORD);
    ConvertStringSidToSidWFn toSid = convertStringToSid();
    auto logonUser =
        reinterpret_cast<LogonUserWFn>(reinterpret_cast<void*>(::GetProcAddress(advapi, "LogonUserW")));
    auto profileDirectory = reinterpret_cast<GetUserProfileDirectoryWFn>(
        reinterpret_cast<void*>(::GetProcAddress(userenv, "GetUserProfileDirectoryW")));
    if (!toSid || !logonUser || !profileDirectory)
      return javaText(env, L" could not get functions" + spacedCode(::GetLastError()));

    AccountSid account = accountSid(sidString.get());
    if (account.sid.empty()) return javaText(env, L" could not convert sid" + spacedCode(account.error));
    AccountLookup found = lookUpSid(account.sid.data());
    if (found.error) return javaText(env, L" could not look up account name" + spacedCode(found.error));
    const std::wstring domain = logonDomain(sidForRules(sidString.get(), account), found.domain);
    HANDLE raw = nullptr;
    if (!logonUser(found.name.c_str(), domain.c_str(), secret.get(), LOGON32_LOGON_NETWORK,
                   LOGON32_PROVIDER_DEFAULT, &raw))
      return javaText(env, L" could not get token" + spacedCode(::GetLastError()));
    win::UniqueHandle token(raw);
    std::vector<wchar_t> directory(kNameUnits, L'\0');
    DWORD units = kNameUnits;
    if (!profileDirectory(token.get(), directory.data(), &units))
      return javaText(env, L" could not get user profile dir" + spacedCode(::GetLastError()));
    return newJavaString(env, directory.data());
  });
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getUserSid0(JNIEnv* env, jclass) noexcept {
  return guarded(jstring(nullptr), [&]() -> jstring {
    const TokenFunctions& fns = tokenFunctions();
    if (!fns || !convertSidToString()) return nullptr;
    win::UniqueHandle token = currentToken(fns);
    if (!token) return nullptr;
    std::vector<unsigned char> buffer;
    if (readToken(fns, token.get(), TokenUser, buffer) != TokenRead::Ok) return nullptr;
    std::optional<std::wstring> text = sidText(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
    return text ? javaText(env, *text) : nullptr;
  });
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_setLsaAccountRight0(JNIEnv* env, jclass,
                                                                                    jstring account,
                                                                                    jstring right,
                                                                                    jboolean add) noexcept {
  return guarded(jboolean(JNI_FALSE), [&]() -> jboolean {
    const LsaCalls& lsa = lsaCalls();
    if (!lsa.openPolicy || !lsa.addAccountRights || !lsa.removeAccountRights || !lsa.close) return JNI_FALSE;
    WideString who = WideString::from(env, account), what = WideString::from(env, right);
    if (who.failed() || what.failed()) return JNI_FALSE;

    AccountSid account = accountSid(who.get());
    if (account.sid.empty()) return JNI_FALSE;
    PSID sid = account.sid.data();

    // The right as a counted string; its byte length must fit the count.
    const wchar_t* rightText = what.isNull() ? L"" : what.get();
    const std::size_t bytes = std::wcslen(rightText) * sizeof(wchar_t);
    if (bytes + sizeof(wchar_t) > 0xFFFF) return JNI_FALSE;
    LSA_UNICODE_STRING rightName{USHORT(bytes), USHORT(bytes + sizeof(wchar_t)),
                                 const_cast<wchar_t*>(rightText)};

    LSA_OBJECT_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof attributes);
    LSA_HANDLE policy = nullptr;
    if (lsa.openPolicy(nullptr, &attributes, POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES, &policy) != 0)
      return JNI_FALSE;
    const NTSTATUS status =
        add == JNI_TRUE ? lsa.addAccountRights(policy, sid, &rightName, 1)
                        : lsa.removeAccountRights(policy, sid, what.isNull() ? TRUE : FALSE, &rightName, 1);
    lsa.close(policy);
    return status == 0 ? JNI_TRUE : JNI_FALSE;
  });
}
