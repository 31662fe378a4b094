// The ShellLink and FolderInfo natives against Wine's shell. Links are read back with a
// reader of the shell-link binary format written here, independent of the shell.
#include <gtest/gtest.h>
#include <jni.h>
#include <objbase.h>
#include <windows.h>

// After windows.h, which they build on.
#include <shlobj.h>
#include <shobjidl.h>
#include <winnetwk.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "NativeCallSupport.h"
#include "TestFiles.h"
#include "natives/shell/ShellLinkFlags.h"

namespace {

using nlohmann::json;
using wintest::utf8;

// ---------------------------------------------------------------------------------------
// A reader of .lnk files: the 76-byte header, the target's ID list (skipped), the link
// information with the local base path, then the counted strings in their fixed order.

struct LinkFile {
  std::uint32_t flags = 0;
  std::uint32_t showCommand = 0;
  std::int32_t iconIndex = 0;
  std::optional<std::string> localPath;  // LinkInfo: local base path + common path suffix
  std::optional<std::string> description, relativePath, workingDir, arguments, iconLocation;
};

constexpr std::uint32_t kHasIdList = 0x1, kHasLinkInfo = 0x2, kHasName = 0x4, kHasRelativePath = 0x8,
                        kHasWorkingDir = 0x10, kHasArguments = 0x20, kHasIconLocation = 0x40,
                        kIsUnicode = 0x80, kRunAsUser = 0x2000;

struct Cursor {
  const std::vector<std::uint8_t>& bytes;
  std::size_t at = 0;
  bool ok = true;
  std::uint32_t u(std::size_t offset, int size) {
    if (offset + size > bytes.size()) {
      ok = false;
      return 0;
    }
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | bytes[offset + i];
    return v;
  }
  std::string ansiAt(std::size_t offset) {
    std::string s;
    while (offset < bytes.size() && bytes[offset]) s.push_back(char(bytes[offset++]));
    if (offset >= bytes.size()) ok = false;
    return s;
  }
  std::string unicodeAt(std::size_t offset) {
    std::wstring s;
    while (offset + 1 < bytes.size() && u(offset, 2)) {
      s.push_back(wchar_t(u(offset, 2)));
      offset += 2;
    }
    return utf8(s);
  }
};

std::optional<LinkFile> readLink(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Cursor c{bytes};
  if (c.u(0, 4) != 0x4C) return std::nullopt;
  const std::uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  if (bytes.size() < 76 || !std::equal(kLinkClsid, kLinkClsid + 16, bytes.begin() + 4)) return std::nullopt;
  LinkFile link;
  link.flags = c.u(20, 4);
  link.iconIndex = std::int32_t(c.u(56, 4));
  link.showCommand = c.u(60, 4);
  std::size_t at = 76;
  if (link.flags & kHasIdList) at += 2 + c.u(at, 2);
  if (link.flags & kHasLinkInfo) {
    const std::size_t info = at;
    const std::uint32_t size = c.u(info, 4), headerSize = c.u(info + 4, 4), infoFlags = c.u(info + 8, 4);
    if (infoFlags & 0x1) {  // VolumeIDAndLocalBasePath
      if (headerSize >= 0x24 && c.u(info + 28, 4)) {
        link.localPath = c.unicodeAt(info + c.u(info + 28, 4)) + c.unicodeAt(info + c.u(info + 32, 4));
      } else {
        link.localPath = c.ansiAt(info + c.u(info + 16, 4)) + c.ansiAt(info + c.u(info + 24, 4));
      }
    }
    at += size;
  }
  std::optional<std::string>* fields[] = {&link.description, &link.relativePath, &link.workingDir,
                                          &link.arguments, &link.iconLocation};
  const std::uint32_t bits[] = {kHasName, kHasRelativePath, kHasWorkingDir, kHasArguments, kHasIconLocation};
  for (int i = 0; i < 5; ++i) {
    if (!(link.flags & bits[i])) continue;
    const std::size_t count = c.u(at, 2);
    at += 2;
    std::string text;
    if (link.flags & kIsUnicode) {
      std::wstring w;
      for (std::size_t k = 0; k < count; ++k) w.push_back(wchar_t(c.u(at + 2 * k, 2)));
      text = utf8(w);
      at += 2 * count;
    } else {
      for (std::size_t k = 0; k < count; ++k) text.push_back(char(c.u(at + k, 1)));
      at += count;
    }
    // The count excludes a terminator; Wine counts and writes one, which is no part of the text.
    if (!text.empty() && text.back() == '\0') text.pop_back();
    *fields[i] = text;
  }
  if (!c.ok) return std::nullopt;
  return link;
}

// A fresh directory below TEMP for one test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"shipkit-links-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++counter_);
    CreateDirectoryW(path_.c_str(), nullptr);
    // A real target: the shell records a link's target only as far as it exists.
    target_ = path_ + L"\\target.exe";
    HANDLE h = CreateFileW(target_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(h);
  }
  ~TempDir() { wintest::removeTree(utf8(path_)); }
  std::wstring path() const { return path_; }
  std::wstring target() const { return target_; }

 private:
  static inline int counter_ = 0;
  std::wstring path_, target_;
};

class ShellNatives : public wintest::NativeCalls {
 protected:
  void SetUp() override {
    NativeCalls::SetUp();
    EXPECT_EQ(call("ShellLink.initialize0", json::array()), true);
  }
  void TearDown() override { EXPECT_EQ(call("ShellLink.uninitialize", json::array()), true); }
  TempDir dir_;
};

// ---------------------------------------------------------------------------------------
// createWide0

struct LinkCase {
  const char* name;
  json workingDir, icon, arguments, description;
  int showCommand;
};

void PrintTo(const LinkCase& c, std::ostream* os) {
  *os << c.name;
}

class LinkFields : public ShellNatives, public ::testing::WithParamInterface<LinkCase> {};

void expectField(const std::optional<std::string>& actual, const json& expected, const char* what) {
  if (expected.is_null()) {
    EXPECT_FALSE(actual) << what << " should be absent, is " << *actual;
  } else {
    ASSERT_TRUE(actual) << what << " missing";
    EXPECT_EQ(*actual, expected.get<std::string>()) << what;
  }
}

TEST_P(LinkFields, EveryFieldSetOrAbsentAsGiven) {
  const LinkCase& c = GetParam();
  const std::wstring file = dir_.path() + L"\\" + std::wstring(c.name, c.name + strlen(c.name)) + L".lnk";
  ASSERT_EQ(call("ShellLink.createWide0", {utf8(file), utf8(dir_.target()), c.workingDir, c.icon, c.arguments,
                                           false, c.description, c.showCommand}),
            true);
  const auto link = readLink(file);
  ASSERT_TRUE(link) << "unreadable link file";
  ASSERT_TRUE(link->localPath);
  EXPECT_EQ(*link->localPath, utf8(dir_.target()));
  expectField(link->workingDir, c.workingDir, "working directory");
  expectField(link->iconLocation, c.icon, "icon location");
  expectField(link->arguments, c.arguments, "arguments");
  expectField(link->description, c.description, "description");
  EXPECT_EQ(link->iconIndex, 0);
  EXPECT_FALSE(link->flags & kRunAsUser);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, LinkFields,
    ::testing::Values(LinkCase{"AllSet", "C:\\work dir", "C:\\icons\\app.ico", "-a \"b c\"", "My app", 1},
                      LinkCase{"NoneSet", nullptr, nullptr, nullptr, nullptr, 1},
                      LinkCase{"OnlyWorkingDir", "C:\\w", nullptr, nullptr, nullptr, 1},
                      LinkCase{"OnlyIcon", nullptr, "C:\\i.ico", nullptr, nullptr, 1},
                      LinkCase{"OnlyArguments", nullptr, nullptr, "--x", nullptr, 1},
                      LinkCase{"OnlyDescription", nullptr, nullptr, nullptr, "d\u00e9j\u00e0 \u20ac", 1},
                      LinkCase{"Minimised", nullptr, nullptr, nullptr, nullptr, 7}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShellNatives, ShowCommandIsStored) {
  if (wintest::runningOnWine()) GTEST_SKIP() << "Wine's link object does not keep the show command";
  const std::wstring file = dir_.path() + L"\\show.lnk";
  ASSERT_EQ(call("ShellLink.createWide0",
                 {utf8(file), utf8(dir_.target()), nullptr, nullptr, nullptr, false, nullptr, 7}),
            true);
  const auto link = readLink(file);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->showCommand, 7u);
}

TEST_F(ShellNatives, AnExistingLinkIsOverwritten) {
  const std::wstring file = dir_.path() + L"\\again.lnk";
  ASSERT_EQ(call("ShellLink.createWide0",
                 {utf8(file), utf8(dir_.target()), "C:\\first", nullptr, "first", false, "first", 1}),
            true);
  ASSERT_EQ(call("ShellLink.createWide0",
                 {utf8(file), utf8(dir_.target()), nullptr, "C:\\second.ico", nullptr, false, nullptr, 1}),
            true);
  const auto link = readLink(file);
  ASSERT_TRUE(link);
  EXPECT_FALSE(link->arguments);
  EXPECT_FALSE(link->description);
  EXPECT_FALSE(link->workingDir);
  expectField(link->iconLocation, "C:\\second.ico", "icon location");
}

// The setters' results are not reported: a link without a target is still saved.
TEST_F(ShellNatives, NullTargetStillSavesTheLink) {
  const std::wstring file = dir_.path() + L"\\nulltarget.lnk";
  EXPECT_EQ(call("ShellLink.createWide0", {utf8(file), nullptr, nullptr, nullptr, "-a", false, nullptr, 1}),
            true);
  const auto link = readLink(file);
  ASSERT_TRUE(link);
  EXPECT_FALSE(link->localPath);
  expectField(link->arguments, "-a", "arguments");
}

TEST_F(ShellNatives, UnwritableLinkFileIsFalse) {
  const std::wstring file = dir_.path() + L"\\missing-dir\\x.lnk";
  EXPECT_EQ(call("ShellLink.createWide0",
                 {utf8(file), utf8(dir_.target()), nullptr, nullptr, nullptr, false, nullptr, 1}),
            false);
  EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The run-as step asks for the flag on top of those the link has. Wine's IShellLinkDataList
// ignores SetFlags, so the step is checked on a link object of this test's own.
class FakeDataList : public IShellLinkDataList {
 public:
  HRESULT getFlagsResult = S_OK, setFlagsResult = S_OK;
  bool offersInterface = true;
  DWORD flags = 0;
  int setCalls = 0;
  ULONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || (offersInterface && iid == IID_IShellLinkDataList)) {
      *out = static_cast<IShellLinkDataList*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE AddDataBlock(void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyDataBlock(DWORD, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RemoveDataBlock(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFlags(DWORD* out) override {
    *out = flags;
    return getFlagsResult;
  }
  HRESULT STDMETHODCALLTYPE SetFlags(DWORD value) override {
    ++setCalls;
    if (setFlagsResult == S_OK) flags = value;
    return setFlagsResult;
  }
};

TEST(RunAsFlagStep, AddsTheFlagAndKeepsTheOthers) {
  struct Row {
    const char* name;
    DWORD before;
    HRESULT getResult, setResult;
    bool offers;
    bool expected;
    DWORD after;
    int setCalls;
  };
  const Row rows[] = {
      {"plain", 0, S_OK, S_OK, true, true, 0x2000, 1},
      {"keepsOthers", 0x80 | 0x4, S_OK, S_OK, true, true, 0x2084, 1},
      {"alreadySet", 0x2000, S_OK, S_OK, true, true, 0x2000, 1},
      {"getFails", 0x1, E_FAIL, S_OK, true, false, 0x1, 0},
      {"setFails", 0x1, S_OK, E_NOTIMPL, true, false, 0x1, 1},
      {"noInterface", 0, S_OK, S_OK, false, false, 0, 0},
  };
  for (const Row& r : rows) {
    FakeDataList link;
    link.flags = r.before;
    link.getFlagsResult = r.getResult;
    link.setFlagsResult = r.setResult;
    link.offersInterface = r.offers;
    EXPECT_EQ(shipkit::natives::addRunAsFlag(&link), r.expected) << r.name;
    EXPECT_EQ(link.flags, r.after) << r.name;
    EXPECT_EQ(link.setCalls, r.setCalls) << r.name;
    EXPECT_EQ(link.refs, 1u) << r.name << ": the interface is released";
  }
}

TEST_F(ShellNatives, RunAsAdministratorSetsTheFlagInTheFile) {
  const std::wstring file = dir_.path() + L"\\admin.lnk";
  const json result = call("ShellLink.createWide0",
                           {utf8(file), utf8(dir_.target()), nullptr, nullptr, nullptr, true, nullptr, 1});
  const auto link = readLink(file);
  if (wintest::runningOnWine() && (result == false || !link || !(link->flags & kRunAsUser)))
    GTEST_SKIP() << "Wine's IShellLinkDataList::SetFlags is a stub (result " << result.dump() << ")";
  EXPECT_EQ(result, true);
  ASSERT_TRUE(link);
  EXPECT_TRUE(link->flags & kRunAsUser);
}

// ---------------------------------------------------------------------------------------
// create0, the 8-bit twin

using Create0 = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jbyteArray, jbyteArray, jbyteArray, jbyteArray,
                                   jboolean, jbyteArray);

TEST_F(ShellNatives, AnsiTwinWritesTheSameFields) {
  auto create0 = exported<Create0>("Java_com_shipkit_runtime_installer_platform_win32_ShellLink_create0");
  ASSERT_NE(create0, nullptr);
  JNIEnv* env = vm_.env();
  auto bytes = [&](const std::string& text, bool terminate) -> jbyteArray {
    const jsize n = jsize(text.size() + (terminate ? 1 : 0));
    jbyteArray a = env->NewByteArray(n);
    env->SetByteArrayRegion(a, 0, n, reinterpret_cast<const jbyte*>(text.c_str()));
    return a;
  };
  const std::wstring file = dir_.path() + L"\\ansi.lnk";
  const std::wstring wfile = file;
  jstring linkFile = env->NewString(reinterpret_cast<const jchar*>(wfile.c_str()), jsize(wfile.size()));
  jbyteArray target = bytes(utf8(dir_.target()), true);
  jbyteArray dir = bytes("C:\\ansi dir", true);
  jbyteArray args = bytes("-x", false);  // no terminating zero: taken up to the array's end
  jbyteArray desc = bytes("an ANSI link", true);
  EXPECT_EQ(create0(env, nullptr, linkFile, target, dir, nullptr, args, JNI_FALSE, desc), JNI_TRUE);
  for (jobject o : {jobject(linkFile), jobject(target), jobject(dir), jobject(args), jobject(desc)})
    env->DeleteLocalRef(o);
  EXPECT_EQ(vm_.outstandingPins(), 0u);
  const auto link = readLink(file);
  ASSERT_TRUE(link);
  ASSERT_TRUE(link->localPath);
  EXPECT_EQ(*link->localPath, utf8(dir_.target()));
  expectField(link->workingDir, "C:\\ansi dir", "working directory");
  expectField(link->arguments, "-x", "arguments");
  expectField(link->description, "an ANSI link", "description");
  expectField(link->iconLocation, nullptr, "icon location");
}

// ---------------------------------------------------------------------------------------
// FolderInfo

std::optional<std::string> shellCsidl(int csidl) {
  wchar_t path[MAX_PATH];
  if (SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
    return std::nullopt;
  return utf8(path);
}

std::optional<std::string> shellKnown(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::optional<std::string> result;
  if (SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK) result = utf8(path);
  CoTaskMemFree(path);
  return result;
}

json jsonOf(const std::optional<std::string>& s) {
  return s ? json(*s) : json(nullptr);
}

TEST_F(ShellNatives, SpecialFoldersAsTheShellReportsThem) {
  struct Row {
    int code, user, common;
  };
  const Row rows[] = {
      {1, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY},
      {2, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU},
      {3, CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS},
      {4, CSIDL_STARTUP, CSIDL_COMMON_STARTUP},
      {5, CSIDL_SENDTO, CSIDL_SENDTO},
      {6, CSIDL_FONTS, CSIDL_FONTS},
      {7, CSIDL_APPDATA, CSIDL_COMMON_APPDATA},
      {8, CSIDL_PERSONAL, CSIDL_COMMON_DOCUMENTS},
      {9, CSIDL_TEMPLATES, CSIDL_COMMON_TEMPLATES},
      {10, CSIDL_FAVORITES, CSIDL_COMMON_FAVORITES},
      {11, CSIDL_LOCAL_APPDATA, CSIDL_LOCAL_APPDATA},
      {0, CSIDL_DESKTOP, CSIDL_DESKTOP},
      {12, CSIDL_DESKTOP, CSIDL_DESKTOP},
      {-7, CSIDL_DESKTOP, CSIDL_DESKTOP},
      {1000, CSIDL_DESKTOP, CSIDL_DESKTOP},
  };
  for (const Row& r : rows) {
    for (bool allUsers : {false, true}) {
      const auto expected = shellCsidl(allUsers ? r.common : r.user);
      ASSERT_TRUE(expected) << r.code;
      EXPECT_EQ(call("FolderInfo.getSpecialFolder0", {r.code, allUsers}), *expected)
          << r.code << " allUsers " << allUsers;
    }
  }
  EXPECT_NE(shellCsidl(CSIDL_DESKTOPDIRECTORY), shellCsidl(CSIDL_COMMON_DESKTOPDIRECTORY));
}

TEST_F(ShellNatives, KnownFoldersAsTheShellReportsThem) {
  struct Row {
    int code;
    const KNOWNFOLDERID* id;
    bool mustExist;
  };
  const Row rows[] = {{1001, &FOLDERID_Downloads, true},
                      {1002, &FOLDERID_UserProgramFiles, false},
                      {1003, &FOLDERID_UserProgramFilesCommon, false},
                      {1004, &FOLDERID_Profile, true},
                      {1001000, &FOLDERID_Profile, true}};
  for (const Row& r : rows) {
    const auto expected = shellKnown(*r.id);
    if (r.mustExist) {
      ASSERT_TRUE(expected) << r.code;
    }
    for (bool allUsers : {false, true}) {
      EXPECT_EQ(call("FolderInfo.getSpecialFolder0", {r.code, allUsers}), jsonOf(expected)) << r.code;
    }
  }
}

TEST_F(ShellNatives, WindowsAndSystemDirectories) {
  wchar_t path[MAX_PATH];
  ASSERT_GT(GetSystemWindowsDirectoryW(path, MAX_PATH), 0u);
  EXPECT_EQ(call("FolderInfo.getWindowsDirectory0", json::array()), utf8(path));
  ASSERT_GT(GetSystemDirectoryW(path, MAX_PATH), 0u);
  EXPECT_EQ(call("FolderInfo.getSystemDirectory0", json::array()), utf8(path));
}

TEST_F(ShellNatives, DriveTypes) {
  EXPECT_EQ(call("FolderInfo.getDriveType0", {"C:\\"}), DRIVE_FIXED);
  const DWORD drives = GetLogicalDrives();
  int missing = -1;
  for (int i = 25; i >= 3 && missing < 0; --i)
    if (!(drives & (1u << i))) {
      missing = i;
    }
  ASSERT_GE(missing, 0) << "no free drive letter";
  const std::string root = std::string(1, char('A' + missing)) + ":\\";
  EXPECT_EQ(call("FolderInfo.getDriveType0", {root}), DRIVE_NO_ROOT_DIR) << root;
}

TEST_F(ShellNatives, ShortPathNames) {
  using Fn = jstring(JNICALL*)(JNIEnv*, jclass, jstring);
  auto shortName =
      exported<Fn>("Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getShortPathName0");
  ASSERT_NE(shortName, nullptr);
  JNIEnv* env = vm_.env();
  const std::wstring missing = dir_.path() + L"\\does not exist\\at all.txt";
  jstring in = env->NewString(reinterpret_cast<const jchar*>(missing.c_str()), jsize(missing.size()));
  jstring out = shortName(env, nullptr, in);
  EXPECT_TRUE(env->IsSameObject(in, out)) << "the argument itself comes back";
  EXPECT_EQ(shortName(env, nullptr, nullptr), nullptr);
  env->DeleteLocalRef(in);

  const std::wstring longName = dir_.path() + L"\\a rather long file name.text";
  CloseHandle(CreateFileW(longName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  wchar_t expected[MAX_PATH];
  ASSERT_GT(GetShortPathNameW(longName.c_str(), expected, MAX_PATH), 0u);
  EXPECT_EQ(call("FolderInfo.getShortPathName0", {utf8(longName)}), utf8(expected));
}

TEST_F(ShellNatives, UniversalNameOfALocalPathIsACode) {
  const json result = call("FolderInfo.getUniversalPathName0", {"C:\\"});
  ASSERT_TRUE(result.is_string());
  const std::string text = result.get<std::string>();
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text[0], ';');
  EXPECT_EQ(text.find_first_not_of("0123456789", 1), std::string::npos) << text;
  std::vector<unsigned char> buffer(0xFFFE);
  DWORD size = DWORD(buffer.size());
  const DWORD code = WNetGetUniversalNameW(L"C:\\", UNIVERSAL_NAME_INFO_LEVEL, buffer.data(), &size);
  EXPECT_EQ(text, ";" + std::to_string(code));
}

// Only string values are paths; anything else, or nothing, is null.
TEST_F(ShellNatives, PathFromRegistryAnswersStringValuesOnly) {
  const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion";
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  const std::wstring prefix =
      L"shipkit-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
  struct Row {
    const wchar_t* suffix;
    DWORD type;
    std::vector<BYTE> data;
    json expected;
  };
  auto units = [](const std::wstring& s, bool terminate) {
    std::vector<BYTE> b((s.size() + (terminate ? 1 : 0)) * 2, 0);
    memcpy(b.data(), s.c_str(), s.size() * 2);
    return b;
  };
  const Row rows[] = {
      {L"-sz", REG_SZ, units(L"C:\\Apps", true), "C:\\Apps"},
      {L"-unterminated", REG_SZ, units(L"C:\\X", false), "C:\\X"},
      {L"-expand", REG_EXPAND_SZ, units(L"%ProgramFiles%\\A", true), "%ProgramFiles%\\A"},
      {L"-dword", REG_DWORD, {1, 0, 0, 0}, nullptr},
      {L"-binary", REG_BINARY, {'C', 0, ':', 0, 0, 0}, nullptr},
      {L"-multi", REG_MULTI_SZ, units(std::wstring(L"a\0b\0", 4), true), nullptr},
      {L"-toolarge", REG_SZ, units(std::wstring(0x4000, L'x'), true), nullptr},
  };
  for (const Row& r : rows) {
    const std::wstring name = prefix + r.suffix;
    ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, r.type, r.data.data(), DWORD(r.data.size())),
              ERROR_SUCCESS);
    EXPECT_EQ(call("FolderInfo.getPathFromRegistry0", {utf8(name)}), r.expected) << utf8(name);
    RegDeleteValueW(key, name.c_str());
  }
  EXPECT_EQ(call("FolderInfo.getPathFromRegistry0", {utf8(prefix + L"-missing")}), nullptr);
  RegCloseKey(key);
  EXPECT_EQ(call("FolderInfo.getPathFromRegistry0", {"ProgramFilesDir"}).is_string(), true);
}

}  // namespace
