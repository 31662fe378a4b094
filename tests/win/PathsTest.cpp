// Launcher paths and temporary directories against Wine's real file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "TestFiles.h"
#include "core/Paths.h"

using namespace shipkit::core;

namespace {

// A throwaway directory below the Windows temporary directory, removed afterwards.
class TempTree : public testing::Test {
 protected:
  void SetUp() override {
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    root_ = std::string(tmp) + "skt_paths_" + wintest::uniqueNameA() + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name();
    removeTree(root_);
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
  }
  void TearDown() override { removeTree(root_); }

  void file(const std::string& rel) { std::ofstream(root_ + "\\" + rel) << "x"; }
  void dir(const std::string& rel) { ASSERT_TRUE(CreateDirectoryA((root_ + "\\" + rel).c_str(), nullptr)); }
  bool present(const std::string& rel) {
    return GetFileAttributesA((root_ + "\\" + rel).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  static void removeTree(const std::string& path) { wintest::removeTree(path); }

  std::string root_;
};

}  // namespace

TEST_F(TempTree, EmptyDirRemovesTwoLevelsAndKeepsTheThird) {
  file("a.txt");
  dir("one");
  file("one\\b.txt");
  dir("one\\two");
  file("one\\two\\c.txt");
  dir("flat");
  file("flat\\d.txt");
  emptyDir(root_, true);
  EXPECT_FALSE(present("a.txt"));
  EXPECT_FALSE(present("one\\b.txt"));
  EXPECT_FALSE(present("flat"));
  // The third level stays, and with it the path to it.
  EXPECT_TRUE(present("one\\two\\c.txt"));
  EXPECT_TRUE(present("one"));
}

TEST_F(TempTree, EmptyDirWithoutRecursionRemovesOnlyEmptySubdirectories) {
  file("a.txt");
  dir("empty");
  dir("full");
  file("full\\b.txt");
  emptyDir(root_, false);
  EXPECT_FALSE(present("a.txt"));
  EXPECT_FALSE(present("empty"));
  EXPECT_TRUE(present("full\\b.txt"));
}

// A directory link inside the tree is removed as a link: the files it points to, outside
// the tree, stay.
TEST_F(TempTree, EmptyDirNeverFollowsADirectoryLink) {
  const std::string outside = root_ + "-outside";
  CreateDirectoryA(outside.c_str(), nullptr);
  const std::string kept = outside + "\\kept.txt";
  HANDLE h = CreateFileA(kept.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  dir("sub");
  for (const char* link : {"link", "sub\\link"}) {
    const std::string path = root_ + "\\" + link;
    if (!CreateSymbolicLinkA(path.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)) {
      const DWORD error = GetLastError();
      wintest::removeTree(outside);
      GTEST_SKIP() << "this Wine cannot create directory links (error " << error << ")";
    }
    ASSERT_NE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  }
  emptyDir(root_, true);
  const bool keptThere = GetFileAttributesA(kept.c_str()) != INVALID_FILE_ATTRIBUTES;
  const bool linkGone = !present("link");
  RemoveDirectoryA((root_ + "\\sub\\link").c_str());
  wintest::removeTree(outside);
  EXPECT_TRUE(keptThere);
  EXPECT_TRUE(linkGone);
}

TEST_F(TempTree, EmptyDirIgnoresDotPathsAndEmptyPaths) {
  file("a.txt");
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, cwd);
  ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));
  emptyDir(".", true);
  emptyDir(".\\", true);
  emptyDir("", true);
  SetCurrentDirectoryA(cwd);
  EXPECT_TRUE(present("a.txt"));
}

TEST_F(TempTree, ExistsFindsEntriesAndDriveRoots) {
  file("a.txt");
  EXPECT_TRUE(exists(root_ + "\\a.txt"));
  EXPECT_TRUE(exists(root_));
  EXPECT_FALSE(exists(root_ + "\\missing"));
  EXPECT_TRUE(exists(std::string("c:\\")));
  EXPECT_TRUE(exists(std::wstring(L"c:\\.\\.")));
  // A directory search cannot find "X:\"-forms, so they are taken as existing unseen.
  EXPECT_TRUE(exists(std::string("q:\\.")));
}

TEST(LauncherPaths, NarrowAndWideFormsOfTheTestExecutable) {
  const std::string& narrow = launcherPath();
  const std::wstring& wide = launcherLongPath();
  ASSERT_FALSE(narrow.empty());
  EXPECT_TRUE(endsWithExe<char>(narrow));
  EXPECT_TRUE(endsWithExe<wchar_t>(wide));
  EXPECT_EQ(launcherDir().back(), '\\');
  EXPECT_EQ(narrow.rfind(launcherDir(), 0), 0u);
  EXPECT_EQ(wide.rfind(launcherDirW(), 0), 0u);
}

TEST(LauncherPaths, ResolveRelativeAgainstTheLauncherDirectory) {
  std::wstring resolved = resolvePath(std::wstring(L"Lib\\..\\Lib\\\\x.jar"), false, true);
  EXPECT_EQ(resolved, launcherDirW() + L"Lib\\x.jar");
  std::wstring lowered = resolvePath(std::wstring(L"C:\\Some\\DIR"), false, false);
  EXPECT_EQ(lowered, L"c:\\some\\dir");
  std::string narrow = resolvePath(std::string_view("sub\\f.txt"), true);
  EXPECT_EQ(narrow, launcherDir() + "sub\\f.txt");
}

TEST(TempRoot, SearchFindsAWritableRootAndManualDirectoryWins) {
  std::wstring root = tempRootW(false);
  ASSERT_FALSE(root.empty());
  EXPECT_FALSE(perUserFallback());
  std::string narrowRoot = tempRoot();
  ASSERT_FALSE(narrowRoot.empty());
  EXPECT_FALSE(setManualTempDir(L"C:\\does\\not\\exist\\skt"));
  EXPECT_EQ(tempRoot(), narrowRoot);
  std::wstring manual = L"C:\\skt_manual_" + wintest::uniqueName();
  ASSERT_TRUE(CreateDirectoryW(manual.c_str(), nullptr));
  EXPECT_TRUE(setManualTempDir(manual));
  EXPECT_EQ(tempRootW(false), manual);
  std::string name = tempFileName();
  EXPECT_EQ(name.rfind(std::string(manual.begin(), manual.end()) + "\\jwr", 0), 0u) << name;
  DeleteFileA(name.c_str());
  RemoveDirectoryW(manual.c_str());
}
