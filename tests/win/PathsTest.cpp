// Launcher paths and temporary directories against Wine's real file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "TestFiles.h"
#include "core/Paths.h"
#include "core/TreeDeletion.h"

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

// A directory link inside the tree is removed as a link: what it points to, outside the
// tree, stays (an empty target too: removing the link must not remove the directory). Both
// routines that empty the launcher's trees are checked: the fatal exit's emptying and the
// removal of an unpacked runtime.
TEST_F(TempTree, TreeRemovalNeverFollowsADirectoryLink) {
  struct Row {
    const char* link;
    bool targetHoldsAFile;
    bool wholeTree;  // removeTree instead of emptyDir(recurse)
  } rows[] = {
      {"link", true, false},       {"link", false, false},    {"sub\\link", true, false},
      {"sub\\link", false, false}, {"sub\\link", true, true}, {"sub\\deeper\\link", false, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.link) + (row.targetHoldsAFile ? " to a file" : " to nothing") +
                 (row.wholeTree ? " removeTree" : " emptyDir"));
    const std::string outside = root_ + "-outside";
    wintest::removeTree(outside);
    ASSERT_TRUE(CreateDirectoryA(outside.c_str(), nullptr));
    const std::string kept = outside + "\\kept.txt";
    if (row.targetHoldsAFile) std::ofstream(kept) << "x";
    CreateDirectoryA((root_ + "\\sub").c_str(), nullptr);
    CreateDirectoryA((root_ + "\\sub\\deeper").c_str(), nullptr);
    const std::string link = root_ + "\\" + row.link;
    const DWORD attributes = wintest::makeDirectoryLink(std::wstring(link.begin(), link.end()),
                                                        std::wstring(outside.begin(), outside.end()));
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY),
              DWORD(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    const bool linksOpenAsThemselves = wintest::opensLinkItself(std::wstring(link.begin(), link.end()));
    if (row.wholeTree)
      shipkit::core::removeTree(std::wstring(root_.begin(), root_.end()));
    else
      emptyDir(root_, true);
    EXPECT_NE(GetFileAttributesA(outside.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(kept.c_str()) != INVALID_FILE_ATTRIBUTES, row.targetHoldsAFile);
    // Wine 8 opens every link's target, so no Windows function removes the link itself there:
    // it is refused and stays. Windows opens the link and removes it.
    EXPECT_EQ(GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES, linksOpenAsThemselves);
    wintest::unlinkDirectoryLink(std::wstring(link.begin(), link.end()));
    wintest::removeTree(outside);
    CreateDirectoryA(root_.c_str(), nullptr);
  }
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
