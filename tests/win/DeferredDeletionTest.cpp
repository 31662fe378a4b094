// The deletion mode against real files, semaphores, message boxes and the registry under
// Wine. The pass count and interval are shortened, and the restart of the machine goes to
// a recorder: under Wine ExitWindowsEx would end every process of the prefix.
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TestFiles.h"
#include "cleanup/DeferredDeletion.h"
#include "cleanup/Reboot.h"

namespace {

using namespace shipkit::cleanup;

std::wstring uniqueName() {
  GUID g;
  CoCreateGuid(&g);
  wchar_t text[64];
  StringFromGUID2(g, text, 64);
  return text;
}

std::atomic<int> gRebootCalls{0};
std::atomic<UINT> gRebootFlags{0};
std::atomic<BOOL> gRebootResult{TRUE};
BOOL WINAPI recordReboot(UINT flags, DWORD reason) {
  ++gRebootCalls;
  gRebootFlags = flags | (reason << 16);
  return gRebootResult;
}

// Answers this process's message boxes from a thread and records "caption|text".
class DialogAnswerer {
 public:
  explicit DialogAnswerer(int answer) : answer_(answer), thread_([this] { run(); }) {}
  ~DialogAnswerer() { stop(); }
  std::vector<std::string> stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  static BOOL CALLBACK visit(HWND window, LPARAM param) {
    auto* self = reinterpret_cast<DialogAnswerer*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    GetClassNameA(window, cls, 64);
    if (pid != GetCurrentProcessId() || std::string(cls) != "#32770" || !IsWindowVisible(window)) return TRUE;
    char caption[256] = {}, text[1024] = {};
    GetWindowTextA(window, caption, 256);
    GetDlgItemTextA(window, 0xFFFF, text, 1024);
    self->seen_.push_back(std::string(caption) + "|" + text);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(self->answer_, BN_CLICKED), 0);
    Sleep(200);  // let the box go before looking again
    return TRUE;
  }
  void run() {
    while (!done_) {
      EnumWindows(visit, reinterpret_cast<LPARAM>(this));
      Sleep(20);
    }
  }
  int answer_;
  std::atomic<bool> done_{false};
  std::vector<std::string> seen_;
  std::thread thread_;
};

const wchar_t* kSessionManager = L"System\\CurrentControlSet\\Control\\Session Manager";

std::vector<std::wstring> pendingRenames() {
  std::vector<std::wstring> out;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key)) return out;
  DWORD size = 0;
  if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == 0 && size) {
    std::wstring data(size / 2 + 1, L'\0');
    RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                     reinterpret_cast<BYTE*>(data.data()), &size);
    for (std::size_t i = 0; i < size / 2;) {
      std::wstring s = data.c_str() + i;
      out.push_back(s);
      i += s.size() + 1;
    }
  }
  RegCloseKey(key);
  return out;
}

bool pendingDeletion(const std::wstring& path) {
  auto list = pendingRenames();
  for (std::size_t i = 0; i + 1 < list.size(); ++i)
    if (list[i] == L"\\??\\" + path && list[i + 1].empty()) return true;
  return false;
}

// Removes every pending operation on paths below `dir` (the pairs source, target).
void dropPendingBelow(const std::wstring& dir) {
  auto list = pendingRenames();
  std::wstring kept;
  for (std::size_t i = 0; i + 1 < list.size(); i += 2) {
    if (list[i].find(dir) != std::wstring::npos) continue;
    kept += list[i] + L'\0' + list[i + 1] + L'\0';
  }
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key)) return;
  if (kept.empty())
    RegDeleteValueW(key, L"PendingFileRenameOperations");
  else
    RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(kept.c_str()), DWORD((kept.size() + 1) * 2));
  RegCloseKey(key);
}

std::optional<std::wstring> checkFileValue(HKEY root) {
  wchar_t value[1024] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(root, L"SOFTWARE\\larkfield\\shipkit", L"RebootCheckFile", RRF_RT_REG_SZ, nullptr, value,
                   &size))
    return std::nullopt;
  return std::wstring(value);
}

void setCheckFileValue(HKEY root, const std::optional<std::wstring>& value) {
  HKEY key;
  if (RegCreateKeyExW(root, L"SOFTWARE\\larkfield\\shipkit", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr))
    return;
  if (value)
    RegSetValueExW(key, L"RebootCheckFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                   DWORD((value->size() + 1) * 2));
  else
    RegDeleteValueW(key, L"RebootCheckFile");
  RegCloseKey(key);
}

bool exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void writeFile(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(f);
}

void writeList(const std::wstring& path, const std::vector<std::wstring>& lines) {
  std::wstring text;
  for (const auto& l : lines) text += l + L"\r\n";
  writeFile(path, std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
}

// A sandbox directory in TEMP, its pending reboot operations and the check-file values
// restored afterwards.
struct Sandbox {
  std::wstring dir;
  std::optional<std::wstring> savedUser = checkFileValue(HKEY_CURRENT_USER);
  std::optional<std::wstring> savedMachine = checkFileValue(HKEY_LOCAL_MACHINE);
  Sandbox() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir = std::wstring(temp) + L"windel" + uniqueName();
    CreateDirectoryW(dir.c_str(), nullptr);
    gRebootCalls = 0;
    gRebootResult = TRUE;
  }
  ~Sandbox() {
    std::optional<std::wstring> made = checkFileValue(HKEY_CURRENT_USER);
    if (made && made != savedUser) {
      DeleteFileW(made->c_str());
      dropPendingBelow(*made);
    }
    setCheckFileValue(HKEY_CURRENT_USER, savedUser);
    setCheckFileValue(HKEY_LOCAL_MACHINE, savedMachine);
    dropPendingBelow(dir);
    std::string narrow(dir.begin(), dir.end());
    wintest::removeTree(narrow);
  }
  std::wstring path(const std::wstring& name) const { return dir + L"\\" + name; }
};

DeletionSettings fast() {
  DeletionSettings s;
  s.passes = 3;
  s.passIntervalMs = 10;
  s.semaphorePause = [] { Sleep(10); };
  s.exitWindows = recordReboot;
  return s;
}

}  // namespace

// The end of the deletion mode by what resists and what the list asks for.
TEST(DeferredDeletion, RebootDecisions) {
  struct Row {
    const char* what;
    std::wstring keyword;
    std::wstring question;
    bool holdFile;       // a listed file stays open past all passes
    bool fullDirectory;  // the listed directory keeps an unlisted file
    int answer;
    BOOL rebootWorks;
    std::vector<std::string> dialogs;
    int rebootCalls;
    bool checkFile;
  } rows[] = {
      {"No creates the check file",
       L"reboot_deletion",
       L"Restart now?",
       true,
       false,
       IDNO,
       TRUE,
       {"shipkit|Restart now?"},
       0,
       true},
      {"Yes restarts",
       L"reboot_deletion",
       L"Restart now?",
       true,
       false,
       IDYES,
       TRUE,
       {"shipkit|Restart now?"},
       1,
       false},
      {"a failed restart shows the failure text",
       L"reboot_deletion",
       L"Restart now?",
       true,
       false,
       IDYES,
       FALSE,
       {"shipkit|Restart now?", "shipkit|Restart failed."},
       1,
       false},
      {"a short question asks nothing", L"reboot_deletion", L"Boot?", true, false, IDYES, TRUE, {}, 0, true},
      {"force restarts without a question",
       L"force_reboot",
       L"Restart now?",
       false,
       false,
       IDYES,
       TRUE,
       {},
       1,
       false},
      {"a held directory asks nothing",
       L"reboot_deletion",
       L"Restart now?",
       false,
       true,
       IDYES,
       TRUE,
       {},
       0,
       false},
      {"without reboot deletion nothing is scheduled",
       L"none",
       L"Restart now?",
       true,
       false,
       IDYES,
       TRUE,
       {},
       0,
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Sandbox box;
    gRebootResult = row.rebootWorks;
    const std::wstring held = box.path(L"held.dll"), free = box.path(L"free.txt"), sub = box.path(L"sub");
    CreateDirectoryW(sub.c_str(), nullptr);
    writeFile(free, "x");
    if (row.fullDirectory) writeFile(sub + L"\\unlisted.txt", "x");
    HANDLE holder =
        CreateFileW(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    if (!row.holdFile) CloseHandle(holder);
    const std::wstring list = box.path(L"list.txt");
    writeList(list, {L"Local\\windel" + uniqueName(), row.keyword, row.question, L"EOSMARKER",
                     L"Restart failed.", L"EOSMARKER", held, free, L"", sub});
    DialogAnswerer answerer(row.answer);
    EXPECT_EQ(runDeferredDeletion(list, fast()), 0);
    EXPECT_EQ(answerer.stop(), row.dialogs);
    if (row.holdFile) CloseHandle(holder);

    EXPECT_FALSE(exists(list)) << "the list file is removed";
    EXPECT_FALSE(exists(free));
    EXPECT_EQ(exists(held), row.holdFile);
    EXPECT_EQ(exists(sub), row.fullDirectory);
    const bool scheduled = row.keyword != L"none";
    EXPECT_EQ(pendingDeletion(held), row.holdFile && scheduled);
    EXPECT_EQ(pendingDeletion(sub), row.fullDirectory && scheduled);
    EXPECT_EQ(gRebootCalls.load(), row.rebootCalls);
    if (row.rebootCalls) {
      EXPECT_EQ(gRebootFlags.load(), UINT(EWX_REBOOT));
    }
    std::optional<std::wstring> user = checkFileValue(HKEY_CURRENT_USER);
    EXPECT_EQ(user.has_value() && user != box.savedUser, row.checkFile);
    if (row.checkFile && user) {
      EXPECT_EQ(checkFileValue(HKEY_LOCAL_MACHINE), user) << "both hives";
      EXPECT_TRUE(exists(*user));
      EXPECT_TRUE(pendingDeletion(*user)) << "the system removes the check file at the next reboot";
      wchar_t temp[MAX_PATH];
      GetTempPathW(MAX_PATH, temp);
      EXPECT_EQ(user->rfind(std::wstring(temp) + L"ide", 0), 0u) << "in TEMP with the prefix ide";
    }
  }
}

// A file that resists a while is deleted in a later pass; nothing is scheduled then.
TEST(DeferredDeletion, LaterPassDeletesAFileReleasedMeanwhile) {
  Sandbox box;
  const std::wstring tree = box.path(L"tree"), held = tree + L"\\held.txt";
  CreateDirectoryW(tree.c_str(), nullptr);
  HANDLE holder =
      CreateFileW(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  std::thread release([holder] {
    Sleep(150);
    CloseHandle(holder);
  });
  const std::wstring list = box.path(L"list.txt");
  writeList(list, {L"", L"reboot_deletion", L"Restart now?", L"EOSMARKER", L"EOSMARKER", held, L"", tree});
  DeletionSettings settings = fast();
  settings.passes = 60;
  DialogAnswerer answerer(IDNO);
  runDeferredDeletion(list, settings);
  release.join();
  EXPECT_TRUE(answerer.stop().empty());
  EXPECT_FALSE(exists(held));
  EXPECT_FALSE(exists(tree));
  EXPECT_FALSE(pendingDeletion(held));
}

// The deletion starts only once no process holds the semaphore.
TEST(DeferredDeletion, WaitsForTheSemaphore) {
  Sandbox box;
  const std::wstring name = L"Local\\windel" + uniqueName();
  HANDLE semaphore = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
  ASSERT_NE(semaphore, nullptr);
  const std::wstring file = box.path(L"a.txt");
  writeFile(file, "x");
  std::atomic<bool> released{false};
  std::thread holder([&] {
    Sleep(200);
    released = true;
    CloseHandle(semaphore);
  });
  const auto pause = [] { Sleep(10); };
  waitForSemaphoreRelease(name, pause);
  EXPECT_TRUE(released.load());
  holder.join();
  // A name nobody holds, or one that is no valid object name, does not block.
  waitForSemaphoreRelease(L"Local\\windel" + uniqueName(), pause);
  waitForSemaphoreRelease(L"Bogus\\namespace\\" + uniqueName(), pause);
}

// The installer's semaphore keeps the deletion waiting, also when this process may not open
// it (an elevated installer's semaphore answers access denied to an unelevated deletion; an
// empty DACL does the same under Wine). The files go only after it is closed.
TEST(DeferredDeletion, SemaphoreHeldKeepsTheDeletionWaiting) {
  for (bool emptyDacl : {false, true}) {
    SCOPED_TRACE(emptyDacl ? "empty DACL" : "default DACL");
    Sandbox box;
    const std::wstring name = L"Local\\windel" + uniqueName();
    SECURITY_DESCRIPTOR sd;
    ACL acl;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    InitializeAcl(&acl, sizeof acl, ACL_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);
    SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
    HANDLE semaphore = CreateSemaphoreW(emptyDacl ? &sa : nullptr, 1, 1, name.c_str());
    ASSERT_NE(semaphore, nullptr);
    SetLastError(0xdeadbeef);
    HANDLE again = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
    if (again) CloseHandle(again);
    ASSERT_EQ(GetLastError(), DWORD(emptyDacl ? ERROR_ACCESS_DENIED : ERROR_ALREADY_EXISTS));

    const std::wstring file = box.path(L"a.txt"), list = box.path(L"list.txt");
    writeFile(file, "x");
    writeList(list, {name, L"none", L"EOSMARKER", L"EOSMARKER", file});
    DeletionSettings settings = fast();
    int pauses = 0;
    bool fileStayedWhileHeld = true;
    settings.semaphorePause = [&] {
      fileStayedWhileHeld = fileStayedWhileHeld && exists(file);
      if (++pauses == 5 || pauses > 1000) CloseHandle(semaphore);
    };
    runDeferredDeletion(list, settings);
    EXPECT_EQ(pauses, 5);
    EXPECT_TRUE(fileStayedWhileHeld);
    EXPECT_FALSE(exists(file));
  }
}

// A directory link planted in a listed tree or an extraction directory (a Unix symbolic link
// under Wine) is never passed through: the file behind it stays and is never scheduled for
// reboot, also when it is held open. The link itself goes where the system can open a link
// as itself (Windows); Wine 8 opens only targets, so there the link is refused and stays.
TEST(DeferredDeletion, NeverPassesThroughALinkInATree) {
  struct Row {
    const char* what;
    std::wstring tree;  // below the sandbox; always listed as a directory
    std::wstring keyword;
    bool hold;
  } rows[] = {
      {"a file behind a link in a listed tree", L"tree", L"none", false},
      {"a held file behind a link in the extraction directory", L"jwr1A2B.tmp_dir1700000000", L"none", true},
      {"a held file behind a link, reboot deletion", L"tree", L"reboot_deletion", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Sandbox box;
    const std::wstring tree = box.path(row.tree), outside = box.path(L"outside"), link = tree + L"\\sub";
    const std::wstring victim = outside + L"\\victim.txt", throughLink = link + L"\\victim.txt";
    ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    writeFile(victim, "x");
    const DWORD attributes = wintest::makeDirectoryLink(link, outside);
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    ASSERT_TRUE(exists(throughLink));
    const bool linksOpenAsThemselves = wintest::opensLinkItself(link);
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (row.hold) {
      holder =
          CreateFileW(victim.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    }
    const std::wstring list = box.path(L"list.txt");
    writeList(list, {L"", row.keyword, L"EOSMARKER", L"EOSMARKER", throughLink, L"", link, tree});
    runDeferredDeletion(list, fast());
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    EXPECT_TRUE(exists(victim));
    EXPECT_FALSE(pendingDeletion(throughLink));
    EXPECT_FALSE(pendingDeletion(victim));
    EXPECT_EQ(exists(link), !linksOpenAsThemselves);
    EXPECT_EQ(checkFileValue(HKEY_CURRENT_USER), box.savedUser) << "nothing asks for a reboot";
  }
}

TEST(DeferredDeletion, MissingListFileEndsQuietly) {
  Sandbox box;
  DialogAnswerer answerer(IDYES);
  EXPECT_EQ(runDeferredDeletion(box.path(L"missing.txt"), fast()), 0);
  EXPECT_TRUE(answerer.stop().empty());
  EXPECT_EQ(gRebootCalls.load(), 0);
}

TEST(DeferredDeletion, EntersTheLauncherDirectory) {
  wchar_t before[MAX_PATH], after[MAX_PATH], module[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  enterLauncherDirectory();
  GetCurrentDirectoryW(MAX_PATH, after);
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring dir(module);
  dir.resize(dir.find_last_of(L'\\'));
  SetCurrentDirectoryW(before);
  EXPECT_EQ(std::wstring(after), dir);
}

TEST(Reboot, RebootModeEnablesThePrivilegeAndRestarts) {
  gRebootCalls = 0;
  gRebootResult = TRUE;
  auto start = std::chrono::steady_clock::now();
  rebootMode(50, recordReboot);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
  EXPECT_EQ(gRebootCalls.load(), 1);
  EXPECT_EQ(gRebootFlags.load(), UINT(EWX_REBOOT));
  gRebootResult = FALSE;
  EXPECT_FALSE(rebootNow(recordReboot));
}
