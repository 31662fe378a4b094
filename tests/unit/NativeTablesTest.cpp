// The tables and option words behind the folder, version, ACL and dialog natives.
#include <gtest/gtest.h>

#include <optional>

#include "natives/dialogs/DialogWords.h"
#include "natives/security/AccessRules.h"
#include "natives/security/VersionOrder.h"
#include "natives/shell/FolderCodes.h"

namespace {

using namespace shipkit::natives;

TEST(FolderCodes, CsidlPerCodeAndColumn) {
  struct Row {
    int code, user, allUsers;
  };
  const Row rows[] = {{1, 16, 25}, {2, 11, 22}, {3, 2, 23},   {4, 7, 24},
                      {5, 9, 9},   {6, 20, 20}, {7, 26, 35},  {8, 5, 46},
                      {9, 21, 45}, {10, 6, 31}, {11, 28, 28}, {0, 0, 0},
                      {12, 0, 0},  {-1, 0, 0},  {1000, 0, 0}, {-2147483647 - 1, 0, 0}};
  for (const Row& r : rows) {
    EXPECT_EQ(csidlOfCode(r.code, false), r.user) << r.code;
    EXPECT_EQ(csidlOfCode(r.code, true), r.allUsers) << r.code;
  }
}

TEST(FolderCodes, KnownFolderPerCode) {
  const FolderId downloads{0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};
  const FolderId userProgramFiles{
      0x5CD7AEE2, 0x2219, 0x4A67, {0xB8, 0x5D, 0x6C, 0x9C, 0xE1, 0x56, 0x60, 0xCB}};
  const FolderId common{0xBCBD3057, 0xCA5C, 0x4622, {0xB4, 0x2D, 0xBC, 0x56, 0xDB, 0x0A, 0xE5, 0x16}};
  const FolderId profile{0x5E6C858F, 0x0E22, 0x4760, {0x9A, 0xFE, 0xEA, 0x33, 0x17, 0xB6, 0x71, 0x73}};
  struct Row {
    int code;
    FolderId id;
  };
  const Row rows[] = {
      {1001, downloads}, {1002, userProgramFiles}, {1003, common}, {1004, profile}, {2147483647, profile}};
  for (const Row& r : rows) EXPECT_EQ(knownFolderOfCode(r.code), r.id) << r.code;
}

TEST(VersionOrder, ComparesUnsignedHighThenLow) {
  using V = std::optional<FileVersionPair>;
  struct Row {
    V first, second;
    int expected;
  };
  const Row rows[] = {
      {FileVersionPair{0x00010002, 0}, FileVersionPair{0x0001000A, 0}, 2},  // 1.2 < 1.10
      {FileVersionPair{0x0001000A, 0}, FileVersionPair{0x00010002, 0}, 1},
      {FileVersionPair{0x00010002, 5}, FileVersionPair{0x00010002, 5}, 0},
      {FileVersionPair{0x00010002, 6}, FileVersionPair{0x00010002, 5}, 1},
      {FileVersionPair{0x00010002, 0x00000001}, FileVersionPair{0x00010002, 0x80000000}, 2},
      {FileVersionPair{0x80000000, 0}, FileVersionPair{0x7FFFFFFF, 0xFFFFFFFF}, 1},  // unsigned high half
      {FileVersionPair{0, 0xFFFFFFFF}, FileVersionPair{1, 0}, 2},
      {std::nullopt, FileVersionPair{1, 0}, 3},
      {FileVersionPair{1, 0}, std::nullopt, 3},
      {std::nullopt, std::nullopt, 3},
  };
  for (const Row& r : rows) EXPECT_EQ(compareFileVersions(r.first, r.second), r.expected);
}

TEST(AccessRules, MaskIsTheOrOfTheSelectedBits) {
  for (int bits = 0; bits < 16; ++bits) {
    const std::uint32_t expected = (bits & 1 ? 0x80000000u : 0) | (bits & 2 ? 0x40000000u : 0) |
                                   (bits & 4 ? 0x20000000u : 0) | (bits & 8 ? 0x10000000u : 0);
    EXPECT_EQ(accessMaskOf(bits & 1, bits & 2, bits & 4, bits & 8), expected) << bits;
  }
}

TEST(AccessRules, TrusteePerKind) {
  struct Row {
    int kind;
    bool fromAccount;
    int authority, count;
    std::uint32_t first, second;
  };
  const Row rows[] = {{3, true, 0, 0, 0, 0},   {1, false, 5, 1, 11, 0}, {5, false, 5, 2, 32, 547},
                      {0, false, 1, 1, 0, 0},  {2, false, 1, 1, 0, 0},  {4, false, 1, 1, 0, 0},
                      {-1, false, 1, 1, 0, 0}, {547, false, 1, 1, 0, 0}};
  for (const Row& r : rows) {
    const TrusteeSid sid = trusteeOfKind(r.kind);
    EXPECT_EQ(sid.fromAccount, r.fromAccount) << r.kind;
    EXPECT_EQ(sid.authority, r.authority) << r.kind;
    EXPECT_EQ(sid.subAuthorityCount, r.count) << r.kind;
    EXPECT_EQ(sid.subAuthorities[0], r.first) << r.kind;
    EXPECT_EQ(sid.subAuthorities[1], r.second) << r.kind;
  }
}

TEST(DialogWords, TaskDialogFlags) {
  struct Row {
    std::int32_t flags;
    bool parent, minimised;
    std::int32_t expected;
  };
  const Row rows[] = {{0, false, false, 0x802},    {0, true, false, 0x1802},       {0, true, true, 0x802},
                      {0x10, true, false, 0x1812}, {0x1802, false, false, 0x1802}, {-1, false, false, -1}};
  for (const Row& r : rows) EXPECT_EQ(taskDialogFlags(r.flags, r.parent, r.minimised), r.expected) << r.flags;
}

TEST(DialogWords, TaskDialogResult) {
  struct Row {
    int pressed;
    bool ticked;
    int expected;
  };
  const Row rows[] = {{101, false, 1},  {103, false, 3},    {103, true, -3},  {2, false, 1000},
                      {1, true, -1000}, {100, false, 1000}, {0, false, 1000}, {-5, false, 1000}};
  for (const Row& r : rows) EXPECT_EQ(taskDialogResult(r.pressed, r.ticked), r.expected) << r.pressed;
}

TEST(DialogWords, KeepAboveFlagsAddNoActivateFromTheSixthTick) {
  const std::uint32_t expected[] = {0x3, 0x3, 0x3, 0x3, 0x3, 0x13, 0x13, 0x13};
  for (int tick = 0; tick < 8; ++tick) EXPECT_EQ(keepAboveFlags(tick), expected[tick]) << tick;
}

TEST(DialogWords, FileDialogOptionsSetThenClear) {
  struct Row {
    std::uint32_t current;
    std::int32_t set, clear;
    std::uint32_t expected;
  };
  const Row rows[] = {{0x1808, 0, 0, 0x1808}, {0x1808, 0x200, 0, 0x1A08},  {0x1808, 0, 0x800, 0x1008},
                      {0, 0x40, 0x40, 0},     {0x1808, -1, 0, 0xFFFFFFFF}, {0xFFFFFFFF, 0, -1, 0}};
  for (const Row& r : rows) EXPECT_EQ(fileDialogOptions(r.current, r.set, r.clear), r.expected);
}

TEST(DialogWords, PickerScopeAndFilters) {
  struct Row {
    bool multi, groups, users, known, local;
    PickerWords expected;
  };
  const Row rows[] = {
      {false, false, false, false, false, {0x36F, 0xC0, 0, 0, 0}},
      {true, false, false, false, true, {0x1, 0xC0, 0, 0, 1}},
      {false, true, false, false, false, {0x36F, 0xC0, 0x3F4, 0x80000006, 0}},
      {false, false, true, false, false, {0x36F, 0xC0, 0x2, 0x80000001, 0}},
      {false, true, true, false, false, {0x36F, 0xC0, 0x3F6, 0x80000007, 0}},
      {false, true, false, true, false, {0x36F, 0xC0, 0x3FC, 0x80020006, 0}},
      {false, false, false, true, false, {0x36F, 0xC0, 0x8, 0x800C4000, 0}},
      {true, true, true, true, true, {0x1, 0xC0, 0x3FE, 0x80020007, 1}},
  };
  for (const Row& r : rows) {
    const PickerWords w = pickerWords(r.multi, r.groups, r.users, r.known, r.local);
    EXPECT_EQ(w.scopeType, r.expected.scopeType);
    EXPECT_EQ(w.scopeFlags, r.expected.scopeFlags);
    EXPECT_EQ(w.uplevelFilter, r.expected.uplevelFilter);
    EXPECT_EQ(w.downlevelFilter, r.expected.downlevelFilter);
    EXPECT_EQ(w.options, r.expected.options);
  }
}

}  // namespace
