// Decisions of the process and handle natives that need no Windows: terminate status codes
// and wait groups, process list entries, environment blocks, the system handle list and the
// printed diagnostic lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "natives/processes/HandleList.h"
#include "natives/processes/PrintedTexts.h"
#include "natives/processes/ProcessEntries.h"
#include "natives/processes/TerminateRules.h"

namespace {

using namespace shipkit::natives;
using Groups = std::vector<std::pair<std::size_t, std::size_t>>;

TEST(TerminateRules, WaitGroupsHoldAtMost64InOrder) {
  const struct {
    std::size_t count;
    Groups groups;
  } rows[] = {
      {0, {}},
      {1, {{0, 1}}},
      {64, {{0, 64}}},
      {65, {{0, 64}, {64, 65}}},
      {66, {{0, 64}, {64, 66}}},
      {129, {{0, 64}, {64, 128}, {128, 129}}},
  };
  for (const auto& r : rows) EXPECT_EQ(waitGroups(r.count), r.groups) << r.count;
}

TEST(TerminateRules, StatusBeforeAndAfterTheWait) {
  const struct {
    std::vector<bool> found;
    bool postFailed;
    int status;
  } rows[] = {
      {{true, true}, false, 1}, {{true, false}, false, 0},      {{false}, false, 0}, {{true}, true, 0},
      {{}, false, 1},           {{false, true, true}, true, 0},
  };
  for (const auto& r : rows) EXPECT_EQ(closeRequestStatus(r.found, r.postFailed), r.status);
  EXPECT_EQ(waitStatus(WaitOutcome::AllEnded), 1);
  EXPECT_EQ(waitStatus(WaitOutcome::TimedOut), 3);
  EXPECT_EQ(waitStatus(WaitOutcome::Failed), 2);
}

TEST(TerminateRules, TheOwnProcessIsNeverEnded) {
  const struct {
    std::uint32_t id, own;
    bool mayEnd;
  } rows[] = {
      {1234, 1234, false},    {1234, 1235, true}, {0, 1234, true}, {0xFFFFFFFFu, 0xFFFFFFFFu, false},
      {0xFFFFFFFFu, 4, true},
  };
  for (const auto& r : rows) EXPECT_EQ(mayEnd(r.id, r.own), r.mayEnd) << r.id << " " << r.own;
}

TEST(TerminateRules, EveryGroupWaitsOnlyForTheTimeLeft) {
  const struct {
    std::uint32_t timeout;
    std::uint64_t elapsed;
    std::uint32_t left;
  } rows[] = {
      {1000, 0, 1000},
      {1000, 999, 1},
      {1000, 1000, 0},
      {1000, 5000, 0},
      {0, 0, 0},
      {kWaitForever, 0, kWaitForever},
      {kWaitForever, std::uint64_t(1) << 40, kWaitForever},
      {0xFFFFFFFEu, 0, 0xFFFFFFFEu},
      {5, std::uint64_t(-1), 0},
  };
  for (const auto& r : rows)
    EXPECT_EQ(remainingTimeout(r.timeout, r.elapsed), r.left) << r.timeout << " " << r.elapsed;
}

TEST(ProcessEntries, PrefixAndRoomOfTheEntryBuffer) {
  EXPECT_EQ(processEntryPrefix(0), L"0 ");
  EXPECT_EQ(processEntryPrefix(1234), L"1234 ");
  EXPECT_EQ(processEntryPrefix(0xFFFFFFFFu), L"-1 ") << "printed as a signed int";
  EXPECT_EQ(pathRoom(5), 4091u);
  EXPECT_EQ(pathRoom(4095), 1u);
  EXPECT_EQ(pathRoom(4096), 0u);
  EXPECT_EQ(pathRoom(9000), 0u);
}

TEST(ProcessEntries, TmpPathsAreAskedForAgain) {
  const struct {
    const wchar_t* entry;
    bool fullImageName;
    bool requery;
  } rows[] = {
      {L"12 C:\\Temp\\setup.tmp", true, true},
      {L"12 C:\\Temp\\setup.tmp", false, false},
      {L"12 C:\\Temp\\setup.TMP", true, false},
      {L"12 C:\\Temp\\setup.tmpx", true, false},
      {L"1.tmp", true, true},
      {L".tmp", true, false},
      {L"tmp", true, false},
      {L"", true, false},
      {L"12 C:\\app.exe", true, false},
  };
  for (const auto& r : rows)
    EXPECT_EQ(needsModuleRequery(r.entry, r.fullImageName), r.requery) << r.entry << " " << r.fullImageName;
}

TEST(ProcessEntries, EnvironmentBlockEntriesInOrder) {
  using Entries = std::vector<std::wstring_view>;
  const struct {
    std::wstring block;
    Entries entries;
  } rows[] = {
      {std::wstring(L"A=1\0B=2\0\0", 9), {L"A=1", L"B=2"}},
      {std::wstring(L"=C:=C:\\x\0PATH=a;b\0\0", 19), {L"=C:=C:\\x", L"PATH=a;b"}},
      {std::wstring(L"\0\0", 2), {}},
      {L"", {}},
      {L"A=1", {L"A=1"}},
      {std::wstring(L"A=1\0\0B=2\0", 9), {L"A=1"}},
      {std::wstring(L"A==\0b\0", 6), {L"A==", L"b"}},
  };
  for (const auto& r : rows) EXPECT_EQ(environmentEntries(r.block), r.entries);
}

// Little-endian field writers for handle lists.
void put(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, std::size_t bytes) {
  if (b.size() < at + bytes) b.resize(at + bytes);
  for (std::size_t i = 0; i < bytes; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}

struct RawEntry {
  std::uint64_t pid, backTrace, value, access;
};

std::vector<std::uint8_t> basicList(std::uint64_t count, const std::vector<RawEntry>& entries) {
  std::vector<std::uint8_t> b(8, 0xEE);
  put(b, 0, count, 4);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t at = 8 + 24 * i;
    b.resize(at + 24, 0xEE);
    put(b, at, entries[i].pid, 2);
    put(b, at + 2, entries[i].backTrace, 2);
    put(b, at + 6, entries[i].value, 2);
    put(b, at + 16, entries[i].access, 4);
  }
  return b;
}

std::vector<std::uint8_t> extendedList(std::uint64_t count, const std::vector<RawEntry>& entries) {
  std::vector<std::uint8_t> b(16, 0xEE);
  put(b, 0, count, 8);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t at = 16 + 40 * i;
    b.resize(at + 40, 0xEE);
    put(b, at + 8, entries[i].pid, 8);
    put(b, at + 16, entries[i].value, 8);
    put(b, at + 24, entries[i].access, 4);
  }
  return b;
}

TEST(HandleList, BothFormsAreReadAndShortDataIsRefused) {
  using Entries = std::vector<HandleEntry>;
  const std::vector<RawEntry> two = {{1234, 0, 0x44, 0x0012019F}, {1234, 3, 0xFFFC, 0x120089}};
  const std::vector<RawEntry> wide = {{70000, 0, 0x1234568, 0x1F01FF}};
  const struct {
    const char* name;
    std::vector<std::uint8_t> data;
    HandleListForm form;
    std::optional<Entries> entries;
  } rows[] = {
      {"basic", basicList(2, two), HandleListForm::Basic,
       // The back-trace index is part of the 32 bits that are compared with the process id.
       Entries{{1234, 0x44, 0x0012019F}, {1234 | (3u << 16), 0xFFFC, 0x120089}}},
      {"basicEmpty", basicList(0, {}), HandleListForm::Basic, Entries{}},
      {"basicCountBeyondData", basicList(3, two), HandleListForm::Basic, std::nullopt},
      {"basicHugeCount", basicList(0xFFFFFFFF, two), HandleListForm::Basic, std::nullopt},
      {"basicNoCount", std::vector<std::uint8_t>{1, 0}, HandleListForm::Basic, std::nullopt},
      {"basicCountOnly", std::vector<std::uint8_t>{0, 0, 0, 0}, HandleListForm::Basic, std::nullopt},
      {"extendedFullWidth", extendedList(1, wide), HandleListForm::Extended,
       Entries{{70000, 0x1234568, 0x1F01FF}}},
      {"extendedCountBeyondData", extendedList(2, wide), HandleListForm::Extended, std::nullopt},
      {"extendedHugeCount", extendedList(std::uint64_t(-1), wide), HandleListForm::Extended, std::nullopt},
      {"extendedEmpty", extendedList(0, {}), HandleListForm::Extended, Entries{}},
  };
  for (const auto& r : rows) EXPECT_EQ(parseHandleList(r.data, r.form), r.entries) << r.name;
}

TEST(HandleList, OnlyNamedFilesAreListed) {
  const struct {
    const wchar_t* type;
    const wchar_t* name;
    bool listed;
  } rows[] = {
      {L"File", L"\\Device\\HarddiskVolume3\\x.txt", true},
      {L"File", L"", false},
      {L"file", L"\\??\\C:\\x", false},
      {L"Key", L"\\REGISTRY\\USER", false},
      {L"FileX", L"\\x", false},
      {L"Fil", L"\\x", false},
      {L"", L"\\x", false},
  };
  for (const auto& r : rows) EXPECT_EQ(isOpenFile(r.type, r.name), r.listed) << r.type;
}

TEST(HandleList, OnlyDiskFilesAreAskedForTheirNames) {
  const struct {
    std::uint32_t fileType;
    bool asked;
  } rows[] = {
      {0x0001, true},   // disk
      {0x0000, false},  // unknown: not a file, or the type could not be read
      {0x0002, false},  // character device (console)
      {0x0003, false},  // pipe, named or anonymous
      {0x8000, false},  // remote
      {0x8001, false},
  };
  for (const auto& r : rows) EXPECT_EQ(nameMayBeQueried(r.fileType), r.asked) << r.fileType;
}

TEST(HandleList, QueryBufferDoublesUpTo1GiB) {
  EXPECT_EQ(nextHandleQueryBytes(kFirstHandleQueryBytes), 131072u);
  EXPECT_EQ(nextHandleQueryBytes(std::size_t(1) << 29), std::size_t(1) << 30);
  EXPECT_EQ(nextHandleQueryBytes(std::size_t(1) << 30), 0u);
}

TEST(PrintedTexts, MicrosoftRuntimeFormats) {
  const struct {
    std::string actual, expected;
  } rows[] = {
      {pointerText(0), "0000000000000000"},
      {pointerText(0x7FFB12345678ull), "00007FFB12345678"},
      {memoryErrorText(8), "error 8\n"},
      {memoryErrorText(0xFFFFFFFFu), "error -1\n"},
      {couldNotLoadFunctionsText({0x10, 0, 0xABCDEF, 0, 0x7FF800000000ull}, 127),
       "could not load functions 0000000000000010 0000000000000000 0000000000ABCDEF 0000000000000000 "
       "00007FF800000000 127\n"},
      {couldNotOpenLinkText("\\??\\Q:", 0xC0000034u), "could not open link \\??\\Q: 00000000C0000034\n"},
      {couldNotOpenLinkText("", 0), "could not open link  0000000000000000\n"},
      {couldNotQueryLinkLengthText("\\??\\C:"), "could not query link length \\??\\C:\n"},
      {couldNotQueryLinkText("\\??\\C:"), "could not query link \\??\\C:\n"},
  };
  for (const auto& r : rows) EXPECT_EQ(r.actual, r.expected);
}

}  // namespace
