#include "cleanup/DeferredDeletion.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "cleanup/DeletionList.h"
#include "core/DeletionRules.h"
#include "core/TreeDeletion.h"
#include "win/Unique.h"

namespace shipkit::cleanup {

namespace {

constexpr const wchar_t* kTitle = L"shipkit";

// The list's paths are made full (relative ones from the launcher directory) and each is
// deleted within its tree: the outermost listed directory or extraction directory on its path.
class Win32Effects : public DeletionEffects {
 public:
  Win32Effects(const DeletionSettings& settings, const std::vector<std::wstring>& trees)
      : settings_(settings) {
    for (const std::wstring& tree : trees) trees_.push_back(folded(core::fullPathOf(tree)));
  }

  void waitForSemaphoreRelease(const std::wstring& name) override {
    cleanup::waitForSemaphoreRelease(name, settings_.semaphorePause);
  }
  RemoveResult deleteFile(const std::wstring& path) override { return remove(path, core::EntryKind::kFile); }
  RemoveResult removeDirectory(const std::wstring& path) override {
    return remove(path, core::EntryKind::kDirectory);
  }
  bool scheduleAtReboot(const std::wstring& path) override {
    const std::wstring full = core::fullPathOf(path);
    return !full.empty() && core::scheduleRemovalAtReboot(full, topLength(full));
  }
  void pause() override { ::Sleep(settings_.passIntervalMs); }

 private:
  RemoveResult remove(const std::wstring& path, core::EntryKind kind) {
    const std::wstring full = core::fullPathOf(path);
    return full.empty() ? RemoveResult::kMissing : core::removeEntry(full, topLength(full), kind);
  }
  // Upper-cased as the file system compares names; the length stays the same.
  static std::wstring folded(std::wstring text) {
    if (!text.empty()) ::CharUpperBuffW(text.data(), DWORD(text.size()));
    return text;
  }
  std::size_t topLength(const std::wstring& full) const { return core::treeTopLength(folded(full), trees_); }

  const DeletionSettings& settings_;
  std::vector<std::wstring> trees_;
};

void showFailure(const std::wstring& failure) {
  if (isShownText(failure)) ::MessageBoxW(nullptr, failure.c_str(), kTitle, MB_OK | MB_ICONWARNING);
}

void recordCheckFile(HKEY root, const std::wstring& path) {
  win::UniqueHkey key;
  if (::RegCreateKeyExW(root, L"SOFTWARE\\larkfield\\shipkit\\", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
    return;
  ::RegSetValueExW(key.get(), L"RebootCheckFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   DWORD((path.size() + 1) * sizeof(wchar_t)));
}

std::wstring checkFileDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  std::wstring dir = n > 0 && n <= MAX_PATH ? std::wstring(buffer, n) : std::wstring();
  if (!dir.empty()) {
    ::CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
  }
  auto env = [](const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    DWORD got = ::GetEnvironmentVariableW(name, value, MAX_PATH);
    return got > 0 && got < MAX_PATH ? std::wstring(value, got) : std::wstring();
  };
  return env(L"HOMEDRIVE") + env(L"HOMEPATH");
}

}  // namespace

std::vector<std::wstring> readListFile(const std::wstring& path) {
  FILE* file = ::_wfopen(path.c_str(), L"rb");
  if (!file) return {};
  std::string bytes;
  char chunk[16384];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, n);
  std::fclose(file);
  return splitListFile(bytes);
}

void waitForSemaphoreRelease(const std::wstring& name, const std::function<void()>& pause) {
  for (;;) {
    HANDLE h = ::CreateSemaphoreW(nullptr, 1, 1, name.c_str());
    const DWORD error = ::GetLastError();
    if (h) ::CloseHandle(h);
    // Access denied also means the semaphore exists: its owner (an elevated installer, or
    // another account in the global namespace) did not grant this process access to it.
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) return;
    pause();
  }
}

void enterLauncherDirectory() {
  std::wstring path(32768, L'\0');
  DWORD n = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
  path.resize(n < path.size() ? n : 0);
  std::size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) return;
  std::wstring dir = path.substr(0, slash + 1);
  if (dir.size() > 3) dir.pop_back();
  ::SetCurrentDirectoryW(dir.c_str());
}

std::wstring createRebootCheckFile() {
  const std::wstring dir = checkFileDirectory();
  wchar_t name[MAX_PATH + 1] = {};
  std::wstring path;
  if (::GetTempFileNameW(dir.c_str(), L"ide", 0, name)) {
    path = name;
  } else {
    std::srand(unsigned(std::time(nullptr)));
    path = dir + L"jwr" + std::to_wstring(std::rand());
  }
  if (!::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return {};
  recordCheckFile(HKEY_LOCAL_MACHINE, path);
  recordCheckFile(HKEY_CURRENT_USER, path);
  return path;
}

int runDeferredDeletion(const std::wstring& listFile, const DeletionSettings& settings) {
  enterLauncherDirectory();
  std::vector<std::wstring> lines = readListFile(listFile);
  Win32Effects effects(settings, listedDirectories(lines));
  const DeletionOutcome out = runDeletionPasses(std::move(lines), effects, settings.passes);
  ::DeleteFileW(listFile.c_str());
  if (out.force) {
    if (!rebootNow(settings.exitWindows)) showFailure(out.failure);
  } else if (out.rebootNeeded) {
    if (isShownText(out.question) &&
        ::MessageBoxW(nullptr, out.question.c_str(), kTitle, MB_YESNO | MB_ICONQUESTION) == IDYES) {
      if (!rebootNow(settings.exitWindows)) showFailure(out.failure);
    } else {
      createRebootCheckFile();
    }
  }
  return 0;
}

}  // namespace shipkit::cleanup
