// FileVersion.compare0 on executables with and without version resources, and
// ACLHandling.addACE: its SID and merge steps checked directly (Wine does not store file
// ACLs: SetNamedSecurityInfoW answers 0 and keeps nothing), its failures for real.
#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

// After windows.h, which they build on.
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "NativeCallSupport.h"
#include "TestFiles.h"
#include "natives/security/AclSteps.h"

namespace {

using nlohmann::json;
using wintest::utf8;

std::string zPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

class Scratch {
 public:
  Scratch() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "shipkit-acl-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount64());
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  ~Scratch() { wintest::removeTree(dir_); }
  std::string file(const std::string& name, const std::string& content = "text") const {
    const std::string path = dir_ + "\\" + name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, content.data(), DWORD(content.size()), &written, nullptr);
    CloseHandle(h);
    return path;
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

class FileVersionNatives : public wintest::NativeCalls {
 protected:
  Scratch scratch_;
};

TEST_F(FileVersionNatives, ComparesNumericallyAndFoldsUnreadableIntoThree) {
  const std::string v12 = zPath(VERSIONED_DIR "/versioned_1_2.exe");
  const std::string v110 = zPath(VERSIONED_DIR "/versioned_1_10.exe");
  const std::string plain = scratch_.file("plain.txt");
  const std::string missing = scratch_.dir() + "\\missing.exe";
  ASSERT_NE(GetFileAttributesA(v12.c_str()), INVALID_FILE_ATTRIBUTES) << v12;
  struct Row {
    json first, second;
    int expected;
  };
  const Row rows[] = {
      {v12, v110, 2},    {v110, v12, 1},    {v12, v12, 0},     {v110, v110, 0},
      {plain, v12, 3},   {v12, plain, 3},   {missing, v12, 3}, {v110, missing, 3},
      {nullptr, v12, 3}, {v12, nullptr, 3}, {plain, plain, 3}, {"", v12, 3},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(call("FileVersion.compare0", {r.first, r.second}), r.expected) << r.first << " " << r.second;
  }
}

// ---------------------------------------------------------------------------------------
// addACE steps

std::string sidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "?";
  std::string s = utf8(text);
  LocalFree(text);
  return s;
}

// A DACL that already grants the Administrators alias full control.
std::vector<BYTE> existingDacl(PSID& admins) {
  ConvertStringSidToSidW(L"S-1-5-32-544", &admins);
  std::vector<BYTE> acl(1024);
  InitializeAcl(reinterpret_cast<PACL>(acl.data()), DWORD(acl.size()), ACL_REVISION);
  AddAccessAllowedAce(reinterpret_cast<PACL>(acl.data()), ACL_REVISION, GENERIC_ALL, admins);
  return acl;
}

TEST(AddAceSteps, GrantMergedIntoTheExistingDaclPerTrusteeAndAccess) {
  struct Kind {
    int kind;
    const wchar_t* account;
    const char* sid;
  };
  const Kind kinds[] = {
      {0, nullptr, "S-1-1-0"},      {2, L"ignored", "S-1-1-0"},   {-1, nullptr, "S-1-1-0"},
      {1, nullptr, "S-1-5-11"},     {5, nullptr, "S-1-5-32-547"}, {3, L"S-1-5-32-545", "S-1-5-32-545"},
      {3, L"S-1-5-18", "S-1-5-18"},
  };
  PSID admins = nullptr;
  std::vector<BYTE> current = existingDacl(admins);
  for (const Kind& k : kinds) {
    std::vector<std::uint8_t> sid = shipkit::natives::trusteeSid(k.kind, k.account);
    ASSERT_FALSE(sid.empty()) << k.kind;
    EXPECT_EQ(sidText(sid.data()), k.sid) << k.kind;
    for (DWORD bits = 1; bits < 16; ++bits) {
      const DWORD mask = (bits & 1 ? GENERIC_READ : 0) | (bits & 2 ? GENERIC_WRITE : 0) |
                         (bits & 4 ? GENERIC_EXECUTE : 0) | (bits & 8 ? GENERIC_ALL : 0);
      EXPLICIT_ACCESS_W entry = shipkit::natives::grantEntry(sid.data(), mask);
      EXPECT_EQ(entry.Trustee.TrusteeType, TRUSTEE_IS_WELL_KNOWN_GROUP);
      PACL merged = nullptr;
      ASSERT_EQ(shipkit::natives::mergedDacl(entry, reinterpret_cast<PACL>(current.data()), &merged),
                DWORD(ERROR_SUCCESS));
      ASSERT_NE(merged, nullptr);
      ASSERT_EQ(merged->AceCount, 2u) << k.sid << " " << bits;
      bool sawExisting = false, sawGrant = false;
      for (DWORD i = 0; i < merged->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(merged, i, reinterpret_cast<void**>(&ace)));
        ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        PSID aceSid = &ace->SidStart;
        if (EqualSid(aceSid, admins)) {
          sawExisting = true;
          EXPECT_EQ(ace->Mask, DWORD(GENERIC_ALL));
        } else {
          sawGrant = true;
          EXPECT_EQ(sidText(aceSid), k.sid);
          EXPECT_EQ(ace->Mask, mask) << bits;
          EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                    OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
          EXPECT_EQ(ace->Header.AceFlags & INHERIT_ONLY_ACE, 0);
        }
      }
      EXPECT_TRUE(sawExisting && sawGrant) << k.sid << " " << bits;
      LocalFree(merged);
    }
  }
  LocalFree(admins);
}

TEST(AddAceSteps, AccountNamesAreLookedUpWhenNoSidString) {
  const std::vector<std::uint8_t> sid = shipkit::natives::trusteeSid(3, L"Administrators");
  ASSERT_FALSE(sid.empty());
  EXPECT_EQ(sidText(const_cast<std::uint8_t*>(sid.data())), "S-1-5-32-544");
}

TEST(AddAceSteps, NoSidForAnAccountThatDoesNotExist) {
  EXPECT_TRUE(shipkit::natives::trusteeSid(3, L"shipkit-no-such-account-7f3a9c").empty());
  EXPECT_TRUE(shipkit::natives::trusteeSid(3, L"S-1-5-").empty());
  EXPECT_TRUE(shipkit::natives::trusteeSid(3, nullptr).empty());
}

class AclNatives : public wintest::NativeCalls {
 protected:
  Scratch scratch_;
};

std::string daclText(const std::string& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  PACL dacl = nullptr;
  const std::wstring wide(path.begin(), path.end());
  if (GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &sd) != ERROR_SUCCESS)
    return "unreadable";
  LPWSTR text = nullptr;
  ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                       nullptr);
  std::string s = text ? utf8(text) : "?";
  LocalFree(text);
  LocalFree(sd);
  return s;
}

TEST_F(AclNatives, FailuresAnswerFalseAndTouchNothing) {
  const std::string file = scratch_.file("guarded.txt");
  const std::string before = daclText(file);
  struct Row {
    const char* name;
    json path;
    int kind;
    json account;
  };
  const Row rows[] = {
      {"unknownAccount", file, 3, "shipkit-no-such-account-7f3a9c"},
      {"nullAccount", file, 3, nullptr},
      {"nullPath", nullptr, 0, nullptr},
      {"missingFile", scratch_.dir() + "\\missing.txt", 0, nullptr},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(call("ACLHandling.addACE", {r.path, false, true, false, false, false, r.kind, r.account}),
              false)
        << r.name;
    EXPECT_EQ(daclText(file), before) << r.name;
  }
}

TEST_F(AclNatives, GrantsOnAFileAndARegistryKey) {
  const std::string file = scratch_.file("granted.txt");
  EXPECT_EQ(call("ACLHandling.addACE", {file, false, true, true, false, false, 0, nullptr}), true);
  EXPECT_EQ(call("ACLHandling.addACE", {file, false, true, false, true, false, 3, "S-1-5-32-545"}), true);
  const std::wstring key = L"Software\\shipkit-tests\\acl-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(GetTickCount64());
  HKEY h = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(h);
  EXPECT_EQ(
      call("ACLHandling.addACE", {"CURRENT_USER\\" + utf8(key), true, true, false, false, false, 1, nullptr}),
      true);
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
}

}  // namespace
