#include <gtest/gtest.h>

#include "instance/SemaphoreName.h"

using namespace shipkit::instance;

// One path, one name: spelling differences that name the same file give the same name.
TEST(SemaphoreName, BaseNameFromThePath) {
  struct Row {
    std::string path;
    bool global;
    std::string name;
  } rows[] = {
      {"C:\\Users\\Ann\\Setup.exe", false, "Local\\c:_users_ann_setup.exe"},
      {"c:\\users\\ann\\setup.exe", false, "Local\\c:_users_ann_setup.exe"},
      {"C:\\\\Users\\\\\\Ann\\Setup.EXE", false, "Local\\c:_users_ann_setup.exe"},
      {"C:\\My Files\\a b.exe", true, "Global\\c:_my_files_a_b.exe"},
      // A network path keeps its leading pair; only later runs collapse.
      {"\\\\Server\\\\Share\\x.exe", false, "Local\\__server_share_x.exe"},
      // Only A-Z change case; other bytes stay as they are.
      {"C:\\\xC4\xD6\\x.exe", false, "Local\\c:_\xC4\xD6_x.exe"},
      {"", false, "Local\\"},
  };
  for (const auto& row : rows) {
    SemaphoreBase base = semaphoreBaseName(row.path, row.global);
    EXPECT_EQ(base.name, row.name) << row.path;
    EXPECT_FALSE(base.digested) << row.path;
  }
}

TEST(SemaphoreName, NormalizedPathIsLowerCaseNotSanitized) {
  EXPECT_EQ(normalizeInstancePath("C:\\\\My Dir\\A.exe"), "c:\\my dir\\a.exe");
  EXPECT_EQ(sanitizeForObjectName("a b\\c\\\\d"), "a_b_c__d");
}

// Names that would not fit the system's limit with the largest number appended fall back
// to a digest: still stable per path, distinct per path, and always within the limit.
TEST(SemaphoreName, OverlongPathsUseAStableDigest) {
  const std::string prefixLocal = "Local\\";
  const std::size_t fits = kMaxObjectName - prefixLocal.size() - 6;  // room for "100000"
  struct Row {
    std::size_t length;
    bool global;
    bool digested;
  } rows[] = {
      {fits, false, false},    {fits + 1, false, true},
      {fits, true, true},  // "Global\" is one longer than "Local\"
      {fits - 1, true, false}, {40000, false, true},
  };
  for (const auto& row : rows) {
    std::string path = "C:\\" + std::string(row.length - 3, 'a');
    SemaphoreBase base = semaphoreBaseName(path, row.global);
    EXPECT_EQ(base.digested, row.digested) << row.length;
    EXPECT_LE(base.name.size() + 6, kMaxObjectName) << row.length;
    EXPECT_EQ(base.name.rfind(row.global ? "Global\\" : "Local\\", 0), 0u) << row.length;
    if (!row.digested) continue;
    std::string upper = "C:\\" + std::string(row.length - 3, 'A');
    EXPECT_EQ(semaphoreBaseName(upper, row.global).name, base.name) << "case makes no difference";
    std::string other = "C:\\" + std::string(row.length - 4, 'a') + "b";
    EXPECT_NE(semaphoreBaseName(other, row.global).name, base.name) << "another path, another name";
  }
}
