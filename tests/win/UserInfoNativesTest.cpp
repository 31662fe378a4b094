// The Win32UserInfo natives. What Wine really provides is tested for real: the token's
// group membership, elevation type and user SID, account names of well-known and built-in
// SIDs, profile directories, and an elevated start of a helper that proves it ran. Wine's
// local user and group functions (NetUserAdd and friends) and its LSA account rights are
// stubs that report success, so the call sequence of those natives, their result texts and
// the rights calls are tested through the natives' call tables.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first
#include <lm.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "NativeCallFixture.h"
#include "natives/base/AccountCalls.h"
#include "natives/security/AclSteps.h"

namespace {

using nlohmann::json;
using wintest::waitFor;
using wintest::wide;

std::string narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(std::size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string sidString(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "<no sid>";
  std::string out = narrow(text);
  LocalFree(text);
  return out;
}

// The process token's user SID, read independently of the natives.
std::string processUserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  CloseHandle(token);
  return sidString(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

class UserInfoNatives : public wintest::SystemNativeCalls {
 protected:
  UserInfoNatives() : SystemNativeCalls("Win32UserInfo") {}
};

TEST_F(UserInfoNatives, GroupMembershipMatchesTheToken) {
  for (int rid : {544, 545, 547, 0x7FFF}) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    ASSERT_TRUE(
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DWORD(rid), 0, 0, 0, 0, 0, 0, &sid));
    BOOL member = FALSE;
    ASSERT_TRUE(CheckTokenMembership(nullptr, sid, &member));
    FreeSid(sid);
    EXPECT_EQ(call("isMemberOfGroup0", {rid}), member == TRUE) << rid;
  }
  // Wine's user is an elevated administrator.
  EXPECT_EQ(call("isMemberOfGroup0", {544}), true);
  EXPECT_EQ(call("isMemberOfGroup0", {0x7FFF}), false);
}

TEST_F(UserInfoNatives, ElevationTypeAndUserSid) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD type = 0, size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size));
  CloseHandle(token);
  EXPECT_EQ(call("getElevationType0", json::array()), int(type));
  EXPECT_EQ(type, DWORD(TokenElevationTypeFull)) << "Wine's token is always the full one";

  const json sid = call("getUserSid0", json::array());
  EXPECT_EQ(sid, processUserSid());
  EXPECT_EQ(sid.get<std::string>().rfind("S-1-5-21-", 0), 0u) << sid;
}

TEST_F(UserInfoNatives, AccountNames) {
  const std::string self = processUserSid();
  wchar_t name[256], domain[256];
  DWORD nameUnits = 256, domainUnits = 256;
  SID_NAME_USE use;
  PSID selfSid = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(wide(self).c_str(), &selfSid));
  ASSERT_TRUE(LookupAccountSidW(nullptr, selfSid, name, &nameUnits, domain, &domainUnits, &use));
  LocalFree(selfSid);
  ASSERT_NE(domain[0], L'\0');

  struct Row {
    json sid;
    bool nameOnly;
    std::string expected;
  } rows[] = {
      {"S-1-5-18", false, "NT AUTHORITY\\System"},
      {"S-1-5-18", true, "NT AUTHORITY\\System"},
      {"S-1-5-19", false, "NT AUTHORITY\\LocalService"},
      {"S-1-5-20", false, "NT AUTHORITY\\NetworkService"},
      {"S-1-5-32-544", false, ".\\Administrators"},
      {"S-1-5-32-544", true, "Administrators"},
      {"S-1-5-32-545", false, ".\\Users"},
      {self, false, narrow(domain) + "\\" + narrow(name)},
      {self, true, narrow(name)},
      {"s-1-5-18", true, "SYSTEM"},   // not the exact text: looked up
      {"not a sid", false, " 1332"},  // an account name that does not exist
      {"S-1-5-21-1-2-3-424242", false, " 1332"},
      {nullptr, false, " 87"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(call("getAccountName0", {row.sid, row.nameOnly}), row.expected) << row.sid;
}

TEST_F(UserInfoNatives, ProfileDirectories) {
  struct Row {
    json sid;
    std::string expected;
  } rows[] = {
      {"S-1-5-18", " no user account"},
      {"S-1-5-19", " no user account"},
      {"S-1-5-20", " no user account"},
      {"not a sid", " could not convert sid 1332"},  // no account of that name
      {"S-1-5-21-1-2-3-424242", " could not look up account name 1332"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(call("getUserProfileDirectory0", {row.sid, "pw"}), row.expected) << row.sid;
}

TEST_F(UserInfoNatives, ExecuteElevatedStartsTheProgram) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::string record = narrow(temp) + wintest::uniqueName("shipkit-elevated-") + ".txt";
  const std::string exe = wintest::zPath(TESTSERVICE_EXE);
  EXPECT_EQ(
      call("executeElevated0", {exe, "\"" + record + "\" mark first \"second word\"", narrow(temp), SW_HIDE}),
      true);
  EXPECT_TRUE(waitFor([&] { return !wintest::readWholeFile(record).empty(); })) << "the program ran";
  EXPECT_EQ(wintest::readWholeFile(record), "ran\nfirst\nsecond word\n");
  DeleteFileA(record.c_str());
  EXPECT_EQ(call("executeElevated0", {"C:\\no\\such\\program.exe", nullptr, nullptr, SW_HIDE}), false);
}

// ---------------------------------------------------------------------------------------
// Users and groups through the call table

struct NetScript {
  NET_API_STATUS groupAdd = 0, groupGetInfo = 0, userAdd = 0, userGetInfo = 0, addMembers = 0;
  DWORD badField = 0;
};

struct NetLog {
  NetScript script;
  std::vector<std::string> calls;
  int liveBuffers = 0;
};
NetLog* netLog = nullptr;

constexpr const char* kNewUserSid = "S-1-5-21-7-8-9-1001";

std::string text(LPCWSTR s) {
  return s ? narrow(s) : std::string("<null>");
}

NET_API_STATUS WINAPI fakeGroupAdd(LPCWSTR server, DWORD level, LPBYTE buf, LPDWORD) {
  auto* info = reinterpret_cast<LOCALGROUP_INFO_1*>(buf);
  netLog->calls.push_back("groupAdd " + text(server) + " " + std::to_string(level) + " " +
                          text(info->lgrpi1_name) + " " + text(info->lgrpi1_comment));
  return netLog->script.groupAdd;
}
NET_API_STATUS WINAPI fakeGroupGetInfo(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* out) {
  netLog->calls.push_back("groupGetInfo " + text(server) + " " + text(group) + " " + std::to_string(level));
  if (netLog->script.groupGetInfo != 0) return netLog->script.groupGetInfo;
  *out = reinterpret_cast<LPBYTE>(new LOCALGROUP_INFO_1{});
  ++netLog->liveBuffers;
  return 0;
}
NET_API_STATUS WINAPI fakeBufferFree(LPVOID) {
  netLog->calls.push_back("free");
  --netLog->liveBuffers;
  return 0;  // the test buffers are few and small: left to the process
}
NET_API_STATUS WINAPI fakeUserAdd(LPCWSTR server, DWORD level, LPBYTE buf, LPDWORD badField) {
  auto* u = reinterpret_cast<USER_INFO_1*>(buf);
  netLog->calls.push_back("userAdd " + text(server) + " " + std::to_string(level) + " " +
                          text(u->usri1_name) + " " + text(u->usri1_password) + " " + text(u->usri1_comment) +
                          " priv" + std::to_string(u->usri1_priv) + " flags" +
                          std::to_string(u->usri1_flags) + " " + text(u->usri1_home_dir) + " " +
                          text(u->usri1_script_path));
  if (badField) *badField = netLog->script.badField;
  return netLog->script.userAdd;
}
NET_API_STATUS WINAPI fakeUserGetInfo(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* out) {
  netLog->calls.push_back("userGetInfo " + text(server) + " " + text(user) + " " + std::to_string(level));
  if (netLog->script.userGetInfo != 0) return netLog->script.userGetInfo;
  auto* info = new USER_INFO_23{};
  ConvertStringSidToSidW(wide(kNewUserSid).c_str(), &info->usri23_user_sid);
  *out = reinterpret_cast<LPBYTE>(info);
  ++netLog->liveBuffers;
  return 0;
}
NET_API_STATUS WINAPI fakeAddMembers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE buf, DWORD count) {
  auto* m = reinterpret_cast<LOCALGROUP_MEMBERS_INFO_0*>(buf);
  netLog->calls.push_back("addMembers " + text(server) + " " + text(group) + " " + std::to_string(level) +
                          " " + sidString(m->lgrmi0_sid) + " " + std::to_string(count));
  return netLog->script.addMembers;
}

struct AddUserRow {
  const char* name;
  json group;  // name or null
  bool create, failIfExists;
  NetScript script;
  json expected;
  std::vector<std::string> calls;
};

void PrintTo(const AddUserRow& r, std::ostream* os) {
  *os << r.name;
}

class AddUser : public UserInfoNatives, public ::testing::WithParamInterface<AddUserRow> {
 protected:
  void SetUp() override {
    UserInfoNatives::SetUp();
    saved_ = shipkit::natives::netApiCalls();
    shipkit::natives::netApiCalls() = {fakeGroupAdd,   fakeGroupGetInfo,    fakeBufferFree,
                                       fakeUserAdd,    fakeUserGetInfo,     fakeAddMembers,
                                       saved_.userDel, saved_.localGroupDel};
    netLog = &log_;
  }
  void TearDown() override {
    shipkit::natives::netApiCalls() = saved_;
    netLog = nullptr;
  }
  shipkit::natives::NetApiCalls saved_{};
  NetLog log_;
};

const std::string kUser = std::string("userAdd <null> 1 jo secret hello priv1 flags1 <null> <null>");
const std::string kRead = "userGetInfo <null> jo 23";
const std::string kMissingGroup = "shipkit-no-such-group-7f3a";

TEST_P(AddUser, CallSequenceAndResultText) {
  const AddUserRow& r = GetParam();
  log_.script = r.script;
  EXPECT_EQ(call("addUser0", {"jo", "secret", "hello", r.group, "the group", r.create, r.failIfExists}),
            r.expected);
  EXPECT_EQ(log_.calls, r.calls);
  EXPECT_EQ(log_.liveBuffers, 0) << "every buffer freed";
}

NetScript script(NET_API_STATUS groupAdd, NET_API_STATUS groupGetInfo, NET_API_STATUS userAdd, DWORD badField,
                 NET_API_STATUS userGetInfo, NET_API_STATUS addMembers) {
  return {groupAdd, groupGetInfo, userAdd, userGetInfo, addMembers, badField};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AddUser,
    ::testing::Values(
        AddUserRow{"WithoutGroup", nullptr, true, true, {}, kNewUserSid, {kUser, kRead, "free"}},
        AddUserRow{"NewGroup",
                   "Administrators",
                   true,
                   true,
                   {},
                   std::string(kNewUserSid) + " S-1-5-32-544 true",
                   {"groupAdd <null> 1 Administrators the group", kUser, kRead,
                    std::string("addMembers <null> Administrators 0 ") + kNewUserSid + " 1", "free"}},
        AddUserRow{"ExistingGroupTolerated",
                   "Administrators",
                   true,
                   false,
                   script(2223, 0, 0, 0, 0, 0),
                   std::string(kNewUserSid) + " S-1-5-32-544 false",
                   {"groupAdd <null> 1 Administrators the group", kUser, kRead,
                    std::string("addMembers <null> Administrators 0 ") + kNewUserSid + " 1", "free"}},
        AddUserRow{"AliasExistsTolerated",
                   "Administrators",
                   true,
                   false,
                   script(1379, 0, 0, 0, 0, 1378),
                   std::string(kNewUserSid) + " S-1-5-32-544 false",
                   {"groupAdd <null> 1 Administrators the group", kUser, kRead,
                    std::string("addMembers <null> Administrators 0 ") + kNewUserSid + " 1", "free"}},
        AddUserRow{"ExistingGroupRefused",
                   "Administrators",
                   true,
                   true,
                   script(2223, 0, 0, 0, 0, 0),
                   "1 2223",
                   {"groupAdd <null> 1 Administrators the group"}},
        AddUserRow{"AliasExistsRefused",
                   "Administrators",
                   true,
                   true,
                   script(1379, 0, 0, 0, 0, 0),
                   "1 1379",
                   {"groupAdd <null> 1 Administrators the group"}},
        AddUserRow{"GroupNotCreated",
                   "g",
                   true,
                   false,
                   script(5, 0, 0, 0, 0, 0),
                   "1 5",
                   {"groupAdd <null> 1 g the group"}},
        AddUserRow{"GivenGroupRead",
                   "Administrators",
                   false,
                   true,
                   {},
                   std::string(kNewUserSid) + " S-1-5-32-544 false",
                   {"groupGetInfo <null> Administrators 1", "free", kUser, kRead,
                    std::string("addMembers <null> Administrators 0 ") + kNewUserSid + " 1", "free"}},
        AddUserRow{"GivenGroupMissing",
                   "g",
                   false,
                   false,
                   script(0, 2220, 0, 0, 0, 0),
                   "6 2220",
                   {"groupGetInfo <null> g 1"}},
        // The group made in step 1 stays when the user cannot be added.
        AddUserRow{"UserExists",
                   "g",
                   true,
                   false,
                   script(0, 0, 2224, 0, 0, 0),
                   "2 2224 0",
                   {"groupAdd <null> 1 g the group", kUser}},
        AddUserRow{"BadParameter", nullptr, true, false, script(0, 0, 87, 3, 0, 0), "2 87 3", {kUser}},
        AddUserRow{
            "UserNotReadBack", nullptr, true, false, script(0, 0, 0, 0, 2221, 0), "3 2221", {kUser, kRead}},
        AddUserRow{"NotAddedToGroup",
                   "g",
                   true,
                   false,
                   script(0, 0, 0, 0, 0, 1387),
                   "4 1387",
                   {"groupAdd <null> 1 g the group", kUser, kRead,
                    std::string("addMembers <null> g 0 ") + kNewUserSid + " 1", "free"}},
        // A group whose SID cannot be found: the user's SID alone.
        AddUserRow{"GroupSidUnknown",
                   kMissingGroup,
                   true,
                   false,
                   {},
                   kNewUserSid,
                   {"groupAdd <null> 1 " + kMissingGroup + " the group", kUser, kRead,
                    "addMembers <null> " + kMissingGroup + " 0 " + kNewUserSid + " 1", "free"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AddUser, AMissingFunctionGivesNullAndCallsNothing) {
  shipkit::natives::netApiCalls().localGroupAddMembers = nullptr;
  EXPECT_EQ(call("addUser0", {"jo", "secret", "hello", nullptr, nullptr, false, false}), nullptr);
  EXPECT_TRUE(log_.calls.empty());
}

TEST_F(UserInfoNatives, DeleteUserAndGroup) {
  // Wine's NetUserDel knows its one user, so a missing user is reported for real.
  EXPECT_EQ(call("deleteUser0", {nullptr, wintest::uniqueName("shipkit-nobody-")}), 2221);
  auto saved = shipkit::natives::netApiCalls();
  auto& table = shipkit::natives::netApiCalls();
  ASSERT_NE(table.userDel, nullptr) << "Wine's netapi32 has NetUserDel";
  table.userDel = [](LPCWSTR server, LPCWSTR user) -> NET_API_STATUS {
    return server == nullptr && user && std::wstring(user) == L"nobody-here" ? 2221 : 1;
  };
  table.localGroupDel = [](LPCWSTR server, LPCWSTR group) -> NET_API_STATUS {
    return server && std::wstring(server) == L"\\\\host" && group && std::wstring(group) == L"g" ? 0 : 1;
  };
  EXPECT_EQ(call("deleteUser0", {nullptr, "nobody-here"}), 2221);
  EXPECT_EQ(call("deleteLocalGroup0", {"\\\\host", "g"}), 0);
  table.userDel = nullptr;
  table.localGroupDel = nullptr;
  EXPECT_EQ(call("deleteUser0", {nullptr, "x"}), -1) << "function missing";
  EXPECT_EQ(call("deleteLocalGroup0", {nullptr, "x"}), -1) << "function missing";
  table = saved;
}

// ---------------------------------------------------------------------------------------
// Account rights through the call table

struct LsaLog {
  NTSTATUS open = 0, change = 0;
  std::vector<std::string> calls;
};
LsaLog* lsaLog = nullptr;
LSA_HANDLE const kPolicy = reinterpret_cast<LSA_HANDLE>(0x5150);

std::string rightText(PLSA_UNICODE_STRING r) {
  return narrow(std::wstring(r->Buffer, r->Length / 2)) + " " + std::to_string(r->Length) + "/" +
         std::to_string(r->MaximumLength);
}

NTSTATUS NTAPI fakeOpenPolicy(PLSA_UNICODE_STRING system, PLSA_OBJECT_ATTRIBUTES attributes,
                              ACCESS_MASK access, PLSA_HANDLE policy) {
  LSA_OBJECT_ATTRIBUTES zero;
  std::memset(&zero, 0, sizeof zero);
  lsaLog->calls.push_back(std::string("open ") + (system ? "remote" : "local") + " " +
                          (std::memcmp(attributes, &zero, sizeof zero) == 0 ? "zeroed" : "set") + " " +
                          std::to_string(access));
  *policy = kPolicy;
  return lsaLog->open;
}
NTSTATUS NTAPI fakeAddRights(LSA_HANDLE policy, PSID sid, PLSA_UNICODE_STRING rights, ULONG count) {
  lsaLog->calls.push_back("add " + std::string(policy == kPolicy ? "policy " : "? ") + sidString(sid) + " " +
                          rightText(rights) + " " + std::to_string(count));
  return lsaLog->change;
}
NTSTATUS NTAPI fakeRemoveRights(LSA_HANDLE policy, PSID sid, BOOLEAN all, PLSA_UNICODE_STRING rights,
                                ULONG count) {
  lsaLog->calls.push_back("remove " + std::string(policy == kPolicy ? "policy " : "? ") + sidString(sid) +
                          (all ? " all " : " one ") + rightText(rights) + " " + std::to_string(count));
  return lsaLog->change;
}
NTSTATUS NTAPI fakeClose(LSA_HANDLE policy) {
  lsaLog->calls.push_back(policy == kPolicy ? "close" : "close ?");
  return 0;
}

struct RightRow {
  const char* name;
  json account, right;
  bool add;
  NTSTATUS open, change;
  bool expected;
  std::vector<std::string> calls;
};

void PrintTo(const RightRow& r, std::ostream* os) {
  *os << r.name;
}

class AccountRights : public UserInfoNatives, public ::testing::WithParamInterface<RightRow> {
 protected:
  void SetUp() override {
    UserInfoNatives::SetUp();
    saved_ = shipkit::natives::lsaCalls();
    shipkit::natives::lsaCalls() = {fakeOpenPolicy, fakeAddRights, fakeRemoveRights, fakeClose};
    lsaLog = &log_;
  }
  void TearDown() override {
    shipkit::natives::lsaCalls() = saved_;
    lsaLog = nullptr;
  }
  shipkit::natives::LsaCalls saved_{};
  LsaLog log_;
};

TEST_P(AccountRights, CallsAndResult) {
  const RightRow& r = GetParam();
  log_.open = r.open;
  log_.change = r.change;
  EXPECT_EQ(call("setLsaAccountRight0", {r.account, r.right, r.add}), r.expected);
  EXPECT_EQ(log_.calls, r.calls);
}

const NTSTATUS kDenied = NTSTATUS(0xC0000022);
const std::string kOpen = "open local zeroed 2064";  // POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES

INSTANTIATE_TEST_SUITE_P(
    Rows, AccountRights,
    ::testing::Values(
        RightRow{"AddBySid",
                 "S-1-5-32-545",
                 "SeServiceLogonRight",
                 true,
                 0,
                 0,
                 true,
                 {kOpen, "add policy S-1-5-32-545 SeServiceLogonRight 38/40 1", "close"}},
        RightRow{"RemoveOne",
                 "S-1-5-32-545",
                 "SeServiceLogonRight",
                 false,
                 0,
                 0,
                 true,
                 {kOpen, "remove policy S-1-5-32-545 one SeServiceLogonRight 38/40 1", "close"}},
        RightRow{"NullRightRemovesAll",
                 "S-1-5-32-545",
                 nullptr,
                 false,
                 0,
                 0,
                 true,
                 {kOpen, "remove policy S-1-5-32-545 all  0/2 1", "close"}},
        RightRow{"EmptyRightRemovesOnlyThat",
                 "S-1-5-32-545",
                 "",
                 false,
                 0,
                 0,
                 true,
                 {kOpen, "remove policy S-1-5-32-545 one  0/2 1", "close"}},
        RightRow{"AccountByName",
                 "Administrators",
                 "SeBatchLogonRight",
                 true,
                 0,
                 0,
                 true,
                 {kOpen, "add policy S-1-5-32-544 SeBatchLogonRight 34/36 1", "close"}},
        RightRow{
            "UnknownAccount", "shipkit-no-such-account-7f3a", "SeBatchLogonRight", true, 0, 0, false, {}},
        RightRow{"RefusedChangeStillCloses",
                 "S-1-5-32-545",
                 "SeBatchLogonRight",
                 true,
                 0,
                 kDenied,
                 false,
                 {kOpen, "add policy S-1-5-32-545 SeBatchLogonRight 34/36 1", "close"}},
        RightRow{"PolicyNotOpened", "S-1-5-32-545", "SeBatchLogonRight", true, kDenied, 0, false, {kOpen}}),
    [](const auto& info) { return std::string(info.param.name); });

// Every native that takes an account text reads only a text beginning with "S-" as a SID
// string and looks every other one up by name: the SID converter would take "WD" for Everyone
// and "AU" for Authenticated Users. Wine stores no rights and no ACL entries, so the SID each
// native resolves is seen through the call tables: the look-up answers every name with the
// Users alias and records what it was asked.
std::vector<std::string>* lookedUp = nullptr;
BOOL WINAPI usersForEveryName(LPCWSTR system, LPCWSTR name, PSID sid, LPDWORD sidBytes, LPWSTR domain,
                              LPDWORD domainUnits, PSID_NAME_USE use) {
  lookedUp->push_back((system ? "remote " : "") + text(name));
  PSID users = nullptr;
  ConvertStringSidToSidW(L"S-1-5-32-545", &users);
  const BOOL copied = CopySid(*sidBytes, sid, users) && *domainUnits > 7;  // the natives give 8192 of each
  LocalFree(users);
  if (copied) wcscpy(domain, L"BUILTIN");
  *use = SidTypeAlias;
  return copied;
}

TEST_F(AccountRights, OnlyTextsBeginningWithSDashAreSidStrings) {
  const auto savedLookup = shipkit::natives::lookupAccountName();
  std::vector<std::string> names;
  lookedUp = &names;
  shipkit::natives::lookupAccountName() = usersForEveryName;
  const struct {
    json account;
    const char* sid;  // null: none
    bool byName;
  } rows[] = {
      {"WD", "S-1-5-32-545", true},  {"AU", "S-1-5-32-545", true},  {"wd", "S-1-5-32-545", true},
      {"S-1-1-0", "S-1-1-0", false}, {"s-1-1-0", "S-1-1-0", false}, {nullptr, nullptr, false},
      {"", nullptr, false},
  };
  for (const auto& r : rows) {
    names.clear();
    log_.calls.clear();
    const std::string shown = r.account.dump();
    const std::string account = r.account.is_null() ? std::string() : r.account.get<std::string>();
    const std::wstring wideAccount = wide(account);
    const wchar_t* accountText = r.account.is_null() ? nullptr : wideAccount.c_str();

    EXPECT_EQ(call("setLsaAccountRight0", {r.account, "SeBatchLogonRight", true}), r.sid != nullptr) << shown;
    const std::vector<std::string> rightCalls =
        r.sid ? std::vector<std::string>{kOpen,
                                         std::string("add policy ") + r.sid + " SeBatchLogonRight 34/36 1",
                                         "close"}
              : std::vector<std::string>{};
    EXPECT_EQ(log_.calls, rightCalls) << shown;

    const std::vector<std::uint8_t> trustee = shipkit::natives::trusteeSid(3, accountText);
    EXPECT_EQ(trustee.empty() ? "<none>" : sidString(const_cast<std::uint8_t*>(trustee.data())),
              r.sid ? r.sid : "<none>")
        << shown;

    EXPECT_EQ(call("getAccountName0", {r.account, true}),
              r.sid ? call("getAccountName0", {r.sid, true}) : " 87")
        << shown;
    const json profile = call("getUserProfileDirectory0", {r.account, "pw"});
    EXPECT_EQ(profile, r.sid ? call("getUserProfileDirectory0", {r.sid, "pw"}) : " could not convert sid 87")
        << shown;

    const std::vector<std::string> lookups =
        r.byName ? std::vector<std::string>(4, account) : std::vector<std::string>{};
    EXPECT_EQ(names, lookups) << shown << ": rights, ACL, account name, profile";
  }
  shipkit::natives::lookupAccountName() = savedLookup;
  lookedUp = nullptr;
}

TEST_F(AccountRights, AMissingFunctionIsFalse) {
  shipkit::natives::lsaCalls().removeAccountRights = nullptr;
  EXPECT_EQ(call("setLsaAccountRight0", {"S-1-5-32-545", "SeBatchLogonRight", true}), false);
  EXPECT_TRUE(log_.calls.empty());
}

}  // namespace
