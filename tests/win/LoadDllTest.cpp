// LoadDLL's outcomes and the message it shows for the origin of the last passing runtime,
// with runtimes made of the fake java.exe in temporary directories.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/Config.h"
#include "core/Log.h"
#include "core/RunState.h"
#include "jvm/launch/JavaVMLauncher.h"
#include "jvm/locate/LoadDll.h"

using namespace shipkit;

namespace {

std::string windowsPath(std::string linuxPath) {
  for (auto& c : linuxPath)
    if (c == '/') c = '\\';
  return "Z:" + linuxPath;
}

class LoadDllTest : public testing::Test {
 protected:
  void SetUp() override {
    savedTables_ = core::tables();
    savedState_ = core::runState();
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    root_ = std::string(tmp) + "skt_loaddll_" + wintest::uniqueNameA() + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(root_.c_str(), nullptr);
    core::runState().messageBoxMode = false;
    core::tables().messages = {
        {1016, u"no runtime {0}"}, {1018, u"variable {0}"}, {1020, u"damaged {0}"}, {1005, u"cannot start"}};
  }
  void TearDown() override {
    core::tables() = savedTables_;
    core::runState() = savedState_;
    SetEnvironmentVariableA("SKT_LOADDLL_HOME", nullptr);
    wintest::removeTree(root_);
  }

  // A runtime whose java.exe answers `version` but which has no jvm.dll.
  std::string runtimeWithoutJvm(const std::string& name, const std::string& version) {
    std::string dir = root_ + "\\" + name;
    CreateDirectoryA(dir.c_str(), nullptr);
    CreateDirectoryA((dir + "\\bin").c_str(), nullptr);
    EXPECT_TRUE(CopyFileA(windowsPath(FAKEJAVA_EXE).c_str(), (dir + "\\bin\\java.exe").c_str(), FALSE));
    std::ofstream(dir + "\\bin\\java.exe.behaviour") << "stderr java version \"" << version << "\"\n";
    return dir;
  }

  // Runs LoadDLL with error display and returns what it printed on standard error.
  std::string shownBy(bool& result, const std::string* location = nullptr, bool isJavaExe = false) {
    std::string capture = root_ + "\\stderr.txt";
    std::fflush(stderr);
    int saved = _dup(2);
    int file = _open(capture.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY, 0644);
    _dup2(file, 2);
    result = jvm::LoadDLL(true, location, isJavaExe);
    std::fflush(stderr);
    _dup2(saved, 2);
    _close(saved);
    _close(file);
    std::ifstream in(capture);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.substr(0, text.find("\n\nLog: "));
  }

  static std::string readLog(const std::wstring& path) {
    std::string text;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
  }

  // The lines written after the first `offset` bytes, without their time-stamp prefixes.
  static std::vector<std::string> logLinesAfter(const std::string& text, std::size_t offset) {
    std::vector<std::string> lines;
    std::size_t pos = std::min(offset, text.size());
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line[0] == '[') {
        std::size_t close = line.find("] ");
        if (close != std::string::npos) line.erase(0, close + 2);
      }
      lines.push_back(line);
      pos = end + 1;
    }
    return lines;
  }

  core::Tables savedTables_;
  core::RunState savedState_;
  std::string root_;
};

}  // namespace

TEST_F(LoadDllTest, NothingFoundShowsMessage1016) {
  core::tables().config = {{128, ""}};
  SetEnvironmentVariableA("SHIPKIT_JAVA_HOME", nullptr);
  SetEnvironmentVariableA("JARWRAP_JAVA_HOME", nullptr);
  bool ok = true;
  EXPECT_EQ(shownBy(ok), "no runtime 64");
  EXPECT_FALSE(ok);
}

TEST_F(LoadDllTest, MessageFollowsTheOriginOfTheLastPassingCandidate) {
  std::string viaVariable = runtimeWithoutJvm("var", "11.0.2");
  std::string viaDirectory = runtimeWithoutJvm("dir", "11.0.2");
  SetEnvironmentVariableA("SKT_LOADDLL_HOME", viaVariable.c_str());
  struct Row {
    std::string sequence;
    std::string shown;
  } rows[] = {
      {"ESKT_LOADDLL_HOME;", "variable SKT_LOADDLL_HOME"},
      {"R" + viaDirectory + ";", "damaged " + viaDirectory},
      // The directory passes after the variable: its origin decides.
      {"ESKT_LOADDLL_HOME;R" + viaDirectory + ";", "damaged " + viaDirectory},
      {"R" + viaDirectory + ";ESKT_LOADDLL_HOME;", "variable SKT_LOADDLL_HOME"},
  };
  for (const auto& row : rows) {
    core::tables().config = {{128, row.sequence}};
    bool ok = true;
    EXPECT_EQ(shownBy(ok), row.shown) << row.sequence;
    EXPECT_FALSE(ok);
  }
}

TEST_F(LoadDllTest, ProvidedJavaExe) {
  std::string dir = runtimeWithoutJvm("provided", "9-ea");
  std::string exe = dir + "\\bin\\java.exe";
  core::tables().config = {{126, "1.8"}};
  // Pre-release versions pass for a provided executable; with no jvm.dll the location is damaged.
  bool ok = true;
  EXPECT_EQ(shownBy(ok, &exe, true), "damaged " + exe);
  EXPECT_FALSE(ok);
  std::string missing = root_ + "\\nowhere\\java.exe";
  EXPECT_EQ(shownBy(ok, &missing, true), "no runtime 64");
  EXPECT_FALSE(ok);
}

TEST_F(LoadDllTest, ManualModeAndKindChangeTheLauncherProperties) {
  // The kind is the one start-up read (the first character of entry 2001), not the entry.
  core::tables().config = {{2001, "e"}};
  core::runState().launcherKind = 'i';
  core::runState().manualRuntime = true;
  std::vector<std::string> props = jvm::launcherSystemProperties();
  ASSERT_GE(props.size(), 2u);
  EXPECT_EQ(props[0], "-Djarwrap.manualJre=true");
  EXPECT_EQ(props[1], "-Djarwrap.isShipkit=true");
  core::runState().manualRuntime = false;
  core::tables().config = {{2001, "i"}};
  core::runState().launcherKind = 'e';
  props = jvm::launcherSystemProperties();
  EXPECT_EQ(props[0].rfind("-Djarwrap.moduleName=", 0), 0u);
}

TEST_F(LoadDllTest, UnloadableRuntimeLogsBothErrorLines) {
  std::string dir = runtimeWithoutJvm("nojvm", "11.0.2");
  core::tables().config = {{128, "R" + dir + ";"}};
  SetEnvironmentVariableA("SHIPKIT_JAVA_HOME", nullptr);
  SetEnvironmentVariableA("JARWRAP_JAVA_HOME", nullptr);
  core::logLine(L"LoadDllTest: unloadable runtime");  // the log exists from its first line
  std::optional<std::wstring> logPath = core::getLogPath();
  ASSERT_TRUE(logPath.has_value());
  const std::string before = readLog(*logPath);
  bool ok = true;
  shownBy(ok);
  EXPECT_FALSE(ok);
  std::vector<std::string> lines = logLinesAfter(readLog(*logPath), before.size());
  auto at = std::find(lines.begin(), lines.end(), "ERROR: Could not get DLL-Handle.");
  ASSERT_NE(at, lines.end()) << testing::PrintToString(lines);
  ASSERT_NE(at + 1, lines.end());
  EXPECT_EQ(at[1], "ERROR: Could not load functions");
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "Loading of JVM-DLL successful"), lines.end());
}
