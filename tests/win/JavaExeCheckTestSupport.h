#pragma once
// Shared by the tests of the Java executable check and the registry sources: runtime layouts
// holding copies of the java.exe test double, scratch registry keys that are removed again,
// configuration entries set for one test, and a view of the diagnostic log.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/Config.h"
#include "core/Log.h"
#include "core/PathRules.h"
#include "core/Paths.h"
#include "jvm/locate/JavaExeCheck.h"

namespace javatest {

// Where the build put the double, as a Wine path.
inline std::string fakeJavaPath() {
  std::string unixPath = FAKEJAVA_EXE;
  for (char& c : unixPath)
    if (c == '/') c = '\\';
  return "Z:" + unixPath;
}

inline bool fileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string readFile(const std::string& path) {
  std::string out;
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return out;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) out.append(chunk, got);
  CloseHandle(file);
  return out;
}

inline void writeFile(const std::string& path, const std::string& text) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
}

inline std::vector<std::string> fileLines(const std::string& path) {
  std::vector<std::string> out;
  std::string text = readFile(path);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    start = end + 1;
  }
  return out;
}

using wintest::removeTree;

inline std::vector<std::string> directoryEntries(const std::string& dir) {
  std::vector<std::string> out;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return out;
  do {
    std::string name = data.cFileName;
    if (name != "." && name != "..") out.push_back(name);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return out;
}

inline void makeDirs(const std::string& path) {
  for (std::size_t pos = path.find('\\', 3); pos != std::string::npos; pos = path.find('\\', pos + 1))
    CreateDirectoryA(path.substr(0, pos).c_str(), nullptr);
  CreateDirectoryA(path.c_str(), nullptr);
}

inline uint64_t lastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// The key of a java.exe's version-cache entry, written out independently of the code under test.
inline std::string cacheKeyOf(const std::string& javaExe) {
  std::string name = javaExe;
  for (char& c : name)
    if (c == '\\') c = '/';
  return "SOFTWARE\\larkfield\\jarwrap\\jvms\\" + name;
}

inline bool keyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

struct RawValue {
  DWORD type = 0;
  std::string data;
};

// A value as Windows hands it to the byte-string functions; none when it is missing.
inline std::optional<RawValue> rawValue(HKEY root, const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  RawValue value;
  value.data.assign(8192, '\xCC');
  DWORD size = DWORD(value.data.size());
  LSTATUS status =
      RegQueryValueExA(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.data.data()), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  value.data.resize(size);
  return value;
}

inline std::optional<std::string> cachedVersionValue(const std::string& javaExe) {
  std::optional<RawValue> value = rawValue(HKEY_CURRENT_USER, cacheKeyOf(javaExe), "Version");
  if (!value) return std::nullopt;
  return value->data.substr(0, value->data.find('\0'));
}

// Keys a test creates, each marked by a value so that leftovers of an interrupted run can be
// told from keys the prefix had anyway. Only marked keys and values the test set are removed.
class ScratchKeys {
 public:
  static constexpr const char* kMarker = "shipkitTestScratch";

  ScratchKeys() = default;
  ScratchKeys(const ScratchKeys&) = delete;
  ScratchKeys& operator=(const ScratchKeys&) = delete;
  ~ScratchKeys() { cleanup(); }

  // Creates every missing component of root\path; marks and remembers the topmost it created.
  void create(HKEY root, const std::string& path) {
    bool ancestorCreated = false;
    for (std::size_t pos = 0;;) {
      std::size_t end = path.find('\\', pos);
      std::string prefix = path.substr(0, end);
      HKEY key = nullptr;
      DWORD disposition = 0;
      LSTATUS status = RegCreateKeyExA(root, prefix.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_ALL_ACCESS, nullptr, &key, &disposition);
      ASSERT_EQ(status, ERROR_SUCCESS) << prefix;
      if (disposition == REG_CREATED_NEW_KEY) {
        RegSetValueExA(key, kMarker, 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
        if (!ancestorCreated) created_.push_back({root, prefix});
        ancestorCreated = true;
      }
      RegCloseKey(key);
      if (end == std::string::npos) break;
      pos = end + 1;
    }
  }

  // Sets a value; false (and nothing written) when the value already exists on a key the test
  // did not create, since that belongs to someone else.
  bool setValue(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& data) {
    create(root, path);
    const bool ours = createdHere(root, path);
    if (!ours && rawValue(root, path, name)) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
    LSTATUS status =
        RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
    RegCloseKey(key);
    if (!ours) values_.push_back({root, path, name});
    return status == ERROR_SUCCESS;
  }
  bool setString(HKEY root, const std::string& path, const char* name, const std::string& text) {
    return setValue(root, path, name, REG_SZ, text + std::string(1, '\0'));
  }

  void cleanup() {
    for (auto it = values_.rbegin(); it != values_.rend(); ++it) {
      HKEY key = nullptr;
      if (RegOpenKeyExA(it->root, it->path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, it->name.c_str());
        RegCloseKey(key);
      }
    }
    values_.clear();
    for (auto it = created_.rbegin(); it != created_.rend(); ++it)
      if (rawValue(it->root, it->path, kMarker)) RegDeleteTreeA(it->root, it->path.c_str());
    created_.clear();
  }

  // Removes marked keys at or below root\path, down to `depth` levels: what an interrupted
  // earlier run left behind.
  static void removeLeftovers(HKEY root, const std::string& path, int depth) {
    if (rawValue(root, path, kMarker)) {
      RegDeleteTreeA(root, path.c_str());
      return;
    }
    if (depth == 0) return;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    RegCloseKey(key);
    for (const std::string& child : names) removeLeftovers(root, path + "\\" + child, depth - 1);
  }

 private:
  struct Key {
    HKEY root;
    std::string path;
  };
  struct Value {
    HKEY root;
    std::string path;
    std::string name;
  };
  bool createdHere(HKEY root, const std::string& path) const {
    for (const Key& key : created_)
      if (key.root == root && (path == key.path || path.rfind(key.path + "\\", 0) == 0)) return true;
    return false;
  }
  std::vector<Key> created_;
  std::vector<Value> values_;
};

// The diagnostic log from the moment of construction on. Reading the log keeps it after exit,
// so the process deletes it itself at exit (unless someone asked for the log).
class LogTail {
 public:
  LogTail() {
    shipkit::core::logLine(L"test log mark");
    std::optional<std::wstring> path = shipkit::core::getLogPath();
    if (!path) return;
    path_ = *path;
    static bool registered = false;
    if (!registered) {
      registered = true;
      static std::wstring toDelete;
      toDelete = path_;
      std::atexit([] {
        if (!shipkit::core::logRequested()) DeleteFileW(toDelete.c_str());
      });
    }
    start_ = readAll().size();
  }
  // The UTF-8 text logged since construction.
  std::string text() const {
    std::string all = readAll();
    return all.size() > start_ ? all.substr(start_) : std::string();
  }
  bool contains(const std::string& needle) const { return text().find(needle) != std::string::npos; }
  std::size_t count(const std::string& needle) const {
    std::string all = text();
    std::size_t n = 0;
    for (std::size_t pos = all.find(needle); pos != std::string::npos; pos = all.find(needle, pos + 1)) ++n;
    return n;
  }

 private:
  std::string readAll() const {
    if (path_.empty()) return {};
    std::string out;
    HANDLE file =
        CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return out;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) out.append(chunk, got);
    CloseHandle(file);
    return out;
  }
  std::wstring path_;
  std::size_t start_ = 0;
};

// A test's own directory of runtimes (lower case, so paths come back from the check unchanged),
// its own temporary directory for the check's capture files, its configuration entries, and the
// registry it touched, all put back afterwards.
class RuntimeFixture : public testing::Test {
 protected:
  void SetUp() override {
    // The log starts in the usual temporary root, before this test's directory becomes it.
    shipkit::core::logLine(L"test %S", testing::UnitTest::GetInstance()->current_test_info()->name());
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH + 1, temp);
    char longTemp[MAX_PATH + 1] = {};
    GetLongPathNameA(temp, longTemp, MAX_PATH + 1);
    static int sequence = 0;
    root_ =
        shipkit::core::lowerAZ<char>(std::string(longTemp) + "skjx" + std::to_string(GetCurrentProcessId()) +
                                     "_" + std::to_string(++sequence));
    removeTree(root_);
    makeDirs(root_ + "\\tmp");
    ASSERT_TRUE(shipkit::core::setManualTempDir(std::wstring(root_.begin(), root_.end()) + L"\\tmp"));

    ScratchKeys::removeLeftovers(HKEY_CURRENT_USER, "SOFTWARE\\larkfield", 4);
    ScratchKeys::removeLeftovers(HKEY_LOCAL_MACHINE, "SOFTWARE\\larkfield", 4);
    ScratchKeys::removeLeftovers(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft", 3);
    // The cache's parent keys: when this test creates them, they go with everything below.
    keys_.create(HKEY_CURRENT_USER, "SOFTWARE\\larkfield\\jarwrap\\jvms");

    savedConfig_ = shipkit::core::tables().config;
    for (int id : {107, 126, 127, 130, 131, 160, 165}) shipkit::core::tables().config.erase(id);
    shipkit::jvm::setVersionQueryTimeoutMs(60000);
  }

  void TearDown() override {
    for (const std::string& exe : executables_) RegDeleteTreeA(HKEY_CURRENT_USER, cacheKeyOf(exe).c_str());
    keys_.cleanup();
    removeTree(root_);
    shipkit::core::tables().config = savedConfig_;
    shipkit::jvm::setVersionQueryTimeoutMs(60000);
  }

  std::string path(const std::string& relative) const { return root_ + "\\" + relative; }

  // Copies the double to <home>\bin\java.exe (and javaw.exe when asked) with `behaviour`, and
  // returns the java.exe path.
  std::string addRuntime(const std::string& home, const std::string& behaviour, bool withJavaw = false) {
    const std::string bin = path(home) + "\\bin";
    makeDirs(bin);
    const std::string exe = bin + "\\java.exe";
    EXPECT_TRUE(CopyFileA(fakeJavaPath().c_str(), exe.c_str(), FALSE)) << fakeJavaPath();
    setBehaviour(exe, behaviour);
    executables_.push_back(exe);
    if (withJavaw) {
      EXPECT_TRUE(CopyFileA(fakeJavaPath().c_str(), (bin + "\\javaw.exe").c_str(), FALSE));
      executables_.push_back(bin + "\\javaw.exe");
    }
    return exe;
  }
  void setBehaviour(const std::string& exe, const std::string& behaviour) {
    writeFile(exe + ".behaviour", behaviour);
  }
  std::vector<std::string> runs(const std::string& exe) const { return fileLines(exe + ".runs"); }
  void setConfig(int id, const std::string& value) { shipkit::core::tables().config[id] = value; }
  std::vector<std::string> tempFiles() const { return directoryEntries(path("tmp")); }

  std::string root_;
  ScratchKeys keys_;
  std::vector<std::string> executables_;
  shipkit::core::ConfigMap savedConfig_;
};

// A behaviour whose first standard-error line is `first`.
inline std::string says(const std::string& first) {
  return "stderr " + first + "\n";
}
inline std::string javaVersion(const std::string& version) {
  return says("java version \"" + version + "\"");
}

}  // namespace javatest
