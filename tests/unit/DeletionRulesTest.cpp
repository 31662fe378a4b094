#include <gtest/gtest.h>

#include "core/DeletionRules.h"

using namespace shipkit::core;

TEST(DeletionRules, LinksAmongReparsePoints) {
  struct Row {
    std::uint32_t attributes, tag;
    bool link;
  } rows[] = {
      {0x410, kTagMountPoint, true}, {0x420, kTagSymlink, true}, {0x410, 0, true},  // no tag: unknown target
      {0x410, 0x9000001Au, false},                                                  // cloud files
      {0x420, 0x80000013u, false},                                                  // deduplicated file
      {0x10, kTagMountPoint, false},  // no reparse attribute: the tag means nothing
  };
  for (const auto& r : rows) EXPECT_EQ(isLinkReparse(r.attributes, r.tag), r.link) << std::hex << r.tag;
}

TEST(DeletionRules, RootsAndSeparators) {
  struct Row {
    std::wstring path;
    std::size_t root;
    std::wstring trimmed;
  } rows[] = {
      {L"C:\\a\\b\\", 3, L"C:\\a\\b"},
      {L"C:\\", 3, L"C:\\"},
      {L"\\\\srv\\share\\a", 12, L"\\\\srv\\share\\a"},
      {L"\\\\srv\\share", 11, L"\\\\srv\\share"},
      {L"\\\\?\\C:\\a\\\\", 7, L"\\\\?\\C:\\a"},
      {L"\\\\?\\UNC\\srv\\sh\\x", 15, L"\\\\?\\UNC\\srv\\sh\\x"},
      {L"rel\\a\\", 0, L"rel\\a"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(rootLength(r.path), r.root) << testing::PrintToString(r.path);
    EXPECT_EQ(trimSeparators(r.path), r.trimmed);
  }
}

// The tree of a path begins at the outermost listed directory or extraction directory on it.
TEST(DeletionRules, TreeTops) {
  const std::vector<std::wstring> listed = {L"C:\\Program Files\\App\\", L"c:\\program files\\app\\lib",
                                            L"D:\\Data"};
  struct Row {
    std::wstring path;
    std::wstring top;
  } rows[] = {
      {L"C:\\Users\\u\\Temp\\jwr1A2B.tmp_dir1700000000\\sub\\a.jar",
       L"C:\\Users\\u\\Temp\\jwr1A2B.tmp_dir1700000000"},
      {L"C:\\TEMP\\JWR9.TMP_DIR5\\x", L"C:\\TEMP\\JWR9.TMP_DIR5"},
      {L"C:\\Program Files\\App\\lib\\x.dll", L"C:\\Program Files\\App"},  // outermost of two
      {L"C:\\PROGRAM FILES\\APP", L"C:\\PROGRAM FILES\\APP"},
      {L"C:\\Program Files\\Application\\x", L"C:\\Program Files\\Application\\x"},  // no component match
      {L"D:\\Data\\jwr1.tmp_dir2\\f", L"D:\\Data"},
      {L"C:\\Windows\\lone.dll", L"C:\\Windows\\lone.dll"},
      {L"C:\\jwrx\\tmp_dir\\f", L"C:\\jwrx\\tmp_dir\\f"},  // the form needs ".tmp_dir" in one name
      {L"C:\\a\\xjwr1.tmp_dir2\\f", L"C:\\a\\xjwr1.tmp_dir2\\f"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(r.path.substr(0, treeTopLength(r.path, listed)), r.top) << testing::PrintToString(r.path);
}

TEST(DeletionRules, DirectoriesFromTheTopToTheParent) {
  const std::wstring path = L"C:\\t\\top\\a\\\\b\\f.txt";
  std::vector<std::wstring> dirs;
  for (std::size_t end : directoriesBetween(path, 8)) dirs.push_back(path.substr(0, end));
  EXPECT_EQ(dirs, (std::vector<std::wstring>{L"C:\\t\\top", L"C:\\t\\top\\a", L"C:\\t\\top\\a\\\\b"}));
  EXPECT_EQ(directoriesBetween(path, path.size()), std::vector<std::size_t>{});
  EXPECT_EQ(directoriesBetween(L"C:\\t\\top\\f", 8), std::vector<std::size_t>{8});
}

// Where an open handle lies, against where the path said it would.
TEST(DeletionRules, HandleLocations) {
  struct Row {
    std::wstring parent, child;
    bool direct, sameName;
  } rows[] = {
      {L"\\\\?\\C:\\t\\tree", L"\\\\?\\C:\\t\\TREE\\a.txt", true, false},
      {L"\\\\?\\C:\\", L"\\\\?\\C:\\a.txt", true, false},
      {L"\\\\?\\C:\\t\\tree", L"\\\\?\\C:\\t\\out\\a.txt", false, false},
      {L"\\\\?\\C:\\t\\tree", L"\\\\?\\C:\\t\\tree\\sub\\a.txt", false, false},
      {L"\\\\?\\C:\\t\\tree", L"\\\\?\\C:\\t\\treex\\a.txt", false, false},
      {L"\\\\?\\C:\\t\\tree", L"\\\\?\\C:\\t\\tree", false, true},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(isDirectChild(r.parent, r.child), r.direct) << testing::PrintToString(r.child);
    EXPECT_EQ(sameLastName(r.parent, r.child), r.sameName) << testing::PrintToString(r.child);
  }
  EXPECT_TRUE(sameLastName(L"\\\\?\\Z:\\o\\Victim.txt", L"C:\\t\\tree\\victim.TXT"));
  EXPECT_FALSE(sameLastName(L"\\\\?\\Z:\\o\\victim.txt", L"C:\\t\\tree\\link"));
}
