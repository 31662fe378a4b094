// The VM option assembly's Windows side: real directory listings, options files read in
// text mode, environment variables and the launcher's configuration tables.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "TestFiles.h"
#include "core/Config.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "jvm/launch/VmOptionsWin.h"
#include "win/Text.h"

using namespace shipkit;
using Options = std::vector<std::string>;

namespace {

std::vector<std::string> splitAtSemicolons(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream s(text);
  for (std::string piece; std::getline(s, piece, ';');) out.push_back(piece);
  return out;
}


// A throwaway directory below the Windows temporary directory that also stands in for the
// extraction directory; the configuration tables and run state are restored afterwards.
class VmOptionsWin : public testing::Test {
 protected:
  void SetUp() override {
    savedTables_ = core::tables();
    savedRunState_ = core::runState();
    core::tables() = {};
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    root_ = std::wstring(tmp) + L"skt_vmo_" + wintest::uniqueName() + L"_" +
            win::wide(testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(std::filesystem::path(root_));
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
    rootNarrow_ = win::narrow(root_);
    core::runState().extractionDir = rootNarrow_;
  }
  void TearDown() override {
    std::filesystem::remove_all(std::filesystem::path(root_));
    core::tables() = savedTables_;
    core::runState() = savedRunState_;
  }

  // Writes bytes exactly as given (no text-mode translation on the way in).
  void write(const std::wstring& rel, const std::string& bytes) {
    std::ofstream(std::filesystem::path(root_ + L"\\" + rel), std::ios::binary) << bytes;
  }
  void dir(const std::wstring& rel) { ASSERT_TRUE(CreateDirectoryW((root_ + L"\\" + rel).c_str(), nullptr)); }

  core::Tables savedTables_;
  core::RunState savedRunState_;
  std::wstring root_;
  std::string rootNarrow_;
};

}  // namespace

TEST_F(VmOptionsWin, ExtractedArchivesJarsThenZipsThenTheUserDirectory) {
  for (const wchar_t* name : {L"b.jar", L"c.zip", L"a.jar", L"notes.txt", L"e.ZIP", L"jar", L"x.jar.bak"})
    write(name, "x");
  dir(L"user");
  for (const wchar_t* name : {L"user\\u.zip", L"user\\u.jar"}) write(name, "x");

  Options options = jvm::assembleVmOptions({L"setup.exe"}, {"-Dlead"});
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[0], "-Dlead");
  ASSERT_EQ(options[1].rfind("-Djava.class.path=", 0), 0u) << options[1];
  std::vector<std::string> entries = splitAtSemicolons(options[1].substr(18));
  const std::string r = rootNarrow_ + "\\";
  ASSERT_EQ(entries.size(), 6u) << options[1];
  // Within a pattern the file system's order counts, which Wine does not fix: compare sets.
  EXPECT_EQ(std::set<std::string>(entries.begin(), entries.begin() + 2),
            (std::set<std::string>{r + "a.jar", r + "b.jar"}));
  EXPECT_EQ(std::set<std::string>(entries.begin() + 2, entries.begin() + 4),
            (std::set<std::string>{r + "c.zip", r + "e.ZIP"}));
  EXPECT_EQ(entries[4], r + "user\\u.jar");
  EXPECT_EQ(entries[5], r + "user\\u.zip");
}

TEST_F(VmOptionsWin, ListingAMissingDirectoryGivesNothing) {
  jvm::WinVmOptionsHost host;
  EXPECT_TRUE(host.listFiles(rootNarrow_ + "\\absent", "*.jar").empty());
  write(L"only.jar", "x");
  EXPECT_EQ(host.listFiles(rootNarrow_, "*.jar"), Options{"only.jar"});
}

TEST_F(VmOptionsWin, OptionsFilesAreReadAsTextWithWidePathsAndRelativeIncludes) {
  // A non-ASCII file name: the entry's byte 0xE9 is widened to U+00E9 and opened by its
  // wide name.
  const std::wstring first = root_ + L"\\opts\u00E9.vmoptions";
  write(L"opts\u00E9.vmoptions", "-Da\r\n  # comment\r\n-Db=x y\r\n" + std::string(29999, 'x') +
                                     "\r\n-include-options sub\\more.vmoptions\r\n-classpath/a tail.jar\r\n");
  dir(L"sub");
  write(L"sub\\more.vmoptions", "-Dmore\r\n");
  core::tables().config[123] = "-include-options " + rootNarrow_ + "\\opts\xE9.vmoptions";

  Options options = jvm::assembleVmOptions({L"setup.exe"}, {});
  const Options want = {"-Da", "-Db=x y", std::string(29999, 'x'), "-Dmore", "-Djava.class.path=tail.jar"};
  EXPECT_EQ(options, want);

  // The log names the file with a real handle; a text-mode read has no line beyond the
  // limit (its CR LF arrived as one LF).
  std::string log = wintest::logText();
  std::string resolved = win::toUtf8(first);
  std::size_t at = log.find("> (" + resolved + ")");
  ASSERT_NE(at, std::string::npos) << "no include line for " << resolved;
  std::size_t lineStart = log.rfind('\n', at) + 1;
  std::string line = log.substr(lineStart, at - lineStart);
  EXPECT_NE(line.find("adding vmoptions from ("), std::string::npos) << line;
  EXPECT_EQ(line.find("(0000000000000000)"), std::string::npos) << line;
  EXPECT_EQ(log.find("longer than 29999 bytes"), std::string::npos);
}

TEST_F(VmOptionsWin, TextModeEndsAFileAtCtrlZ) {
  write(L"z.vmoptions", "-Dbefore\r\n\x1A-Dafter\r\n");
  core::tables().config[123] = "-include-options " + rootNarrow_ + "\\z.vmoptions";
  EXPECT_EQ(jvm::assembleVmOptions({L"setup.exe"}, {}), (Options{"-Dbefore", "-Djava.class.path="}));
}

TEST_F(VmOptionsWin, DefaultFileLookupTriesFourNames) {
  jvm::WinVmOptionsHost host;
  const std::wstring exe = root_ + L"\\setup.exe";
  const std::wstring tool = root_ + L"\\tool.exe";
  dir(L"real");
  const std::wstring module = root_ + L"\\real\\inst.exe";
  write(L"setup.vmoptions", "-Dsetup\r\n");
  write(L"tool.exe.vmoptions", "-Dtool\r\n");
  write(L"real\\inst.exe.vmoptions", "-Dinst\r\n");
  struct Row {
    std::wstring longPath;
    std::wstring found;
    std::string text;
  } rows[] = {
      {exe, root_ + L"\\setup.vmoptions", "-Dsetup\n"},  // CR LF read in text mode
      {tool, root_ + L"\\tool.exe.vmoptions", "-Dtool\n"},
      {root_ + L"\\absent\\x.exe", root_ + L"\\real\\inst.exe.vmoptions", "-Dinst\n"},
  };
  for (const auto& row : rows) {
    std::optional<jvm::DefaultOptionsFile> found = jvm::findDefaultOptionsFile(host, row.longPath, module);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->path, row.found);
    EXPECT_EQ(found->file.text, row.text);
    EXPECT_NE(found->file.handle, nullptr);
  }
  EXPECT_FALSE(jvm::findDefaultOptionsFile(host, root_ + L"\\none.exe", root_ + L"\\none2.exe").has_value());
}

TEST_F(VmOptionsWin, EnvironmentVariables) {
  jvm::WinVmOptionsHost host;
  const std::string name = "SKT_VMO_" + wintest::uniqueNameA();
  struct Row {
    const char* value;  // null: not set
    std::optional<std::string> want;
  } rows[] = {
      {"C:\\a.jar", std::string("C:\\a.jar")},
      {nullptr, std::nullopt},
      {"", std::string()},  // set but empty is not "not found"
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(SetEnvironmentVariableA(name.c_str(), row.value));
    EXPECT_EQ(host.environmentVariable(name), row.want) << (row.value ? row.value : "(unset)");
  }
  // Longer than the first buffer.
  const std::string big(5000, 'v');
  ASSERT_TRUE(SetEnvironmentVariableA(name.c_str(), big.c_str()));
  EXPECT_EQ(host.environmentVariable(name), big);
  SetEnvironmentVariableA(name.c_str(), nullptr);
}

TEST_F(VmOptionsWin, PreconfiguredClassPathAgainstTheLauncherDirectory) {
  const std::string name = "SKT_VMO_CP_" + wintest::uniqueNameA();
  ASSERT_TRUE(SetEnvironmentVariableA(name.c_str(), "\"C:\\q dir\\q.jar\""));
  core::tables().config[121] = "A0lib\\a.jar;E0" + name + ";S0" + rootNarrow_ + "\\libs";
  core::tables().config[123] = "-Dx=\"1 2\"";
  dir(L"libs");
  write(L"libs\\l.jar", "x");
  core::runState().extractionDir.clear();
  Options options = jvm::assembleVmOptions({L"setup.exe"}, {});
  SetEnvironmentVariableA(name.c_str(), nullptr);
  EXPECT_EQ(options,
            (Options{"-Dx=1 2", "-Djava.class.path=" + core::launcherDir() + "lib\\a.jar;C:\\q dir\\q.jar;" +
                                    rootNarrow_ + "\\libs\\l.jar"}));
}
