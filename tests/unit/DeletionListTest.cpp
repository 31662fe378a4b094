#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "cleanup/DeletionList.h"

using namespace shipkit::cleanup;

namespace {

std::string utf16le(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    out += char(c & 0xFF);
    out += char((c >> 8) & 0xFF);
  }
  return out;
}

// Paths resist for a given number of attempts (-1: always); scheduling succeeds unless the
// path is listed in `unschedulable`. Records every effect in order.
struct FakeEffects : DeletionEffects {
  std::map<std::wstring, int> resist;
  std::vector<std::wstring> missing;
  std::vector<std::wstring> unschedulable;
  std::vector<std::wstring> log;

  void waitForSemaphoreRelease(const std::wstring& name) override { log.push_back(L"wait " + name); }
  RemoveResult remove(const std::wstring& kind, const std::wstring& path) {
    log.push_back(kind + L" " + path);
    if (std::find(missing.begin(), missing.end(), path) != missing.end()) return RemoveResult::kMissing;
    auto it = resist.find(path);
    if (it == resist.end() || it->second == 0) return RemoveResult::kRemoved;
    if (it->second > 0) --it->second;
    return RemoveResult::kResists;
  }
  RemoveResult deleteFile(const std::wstring& path) override { return remove(L"file", path); }
  RemoveResult removeDirectory(const std::wstring& path) override { return remove(L"dir", path); }
  bool scheduleAtReboot(const std::wstring& path) override {
    log.push_back(L"schedule " + path);
    return std::find(unschedulable.begin(), unschedulable.end(), path) == unschedulable.end();
  }
  void pause() override { log.push_back(L"pause"); }
  int count(const std::wstring& entry) const { return int(std::count(log.begin(), log.end(), entry)); }
};

}  // namespace

TEST(ListFile, Lines) {
  struct Row {
    std::string bytes;
    std::vector<std::wstring> lines;
  } rows[] = {
      {utf16le(L"a\r\nb\r\n"), {L"a", L"b"}},
      {utf16le(L"a\nb"), {L"a", L"b"}},
      {utf16le(L"a\r\r\n\r\n\nb"), {L"a", L"", L"", L"b"}},
      {utf16le(L"\xFEFFsem\r\nx"), {L"sem", L"x"}},                 // a byte-order mark is not part of a line
      {utf16le(L"a\r\n\xFEFFx"), {L"a", L"\xFEFFx"}},               // only at the very start
      {utf16le(std::wstring(L"ab\0cd\r\nef", 9)), {L"ab", L"ef"}},  // a line ends at its first NUL
      {utf16le(L"a\r\n") + "b", {L"a"}},                            // an odd last byte is ignored
      {"", {}},
      {utf16le(L"\xFEFF"), {}},
      {utf16le(L"\r\n"), {L""}},
      {utf16le(L"C:\\\x00E4\x4E2D.txt"), {L"C:\\\x00E4\x4E2D.txt"}},
  };
  for (const auto& row : rows)
    EXPECT_EQ(splitListFile(row.bytes), row.lines) << testing::PrintToString(row.bytes);
}

// Lines longer than any line buffer stay one entry: a cut path would name another file.
TEST(ListFile, LongLinesStayWhole) {
  std::wstring longPath = L"C:\\" + std::wstring(20000, L'x');
  auto lines = splitListFile(utf16le(longPath + L"\r\nnext\r\n"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], longPath);
}

TEST(DeletionPasses, SectionsAndTexts) {
  struct Row {
    std::vector<std::wstring> lines;
    std::vector<std::wstring> effects;
    bool force, mayReboot;
    std::wstring question, failure;
  } rows[] = {
      {{L"Local\\sem0", L"reboot_deletion", L"Q1", L"", L"Q2", L"EOSMARKER", L"", L"F1", L"EOSMARKER x",
        L"a.txt", L"b.txt", L"", L"d1", L"", L"d2"},
       {L"wait Local\\sem0", L"file a.txt", L"file b.txt", L"dir d1", L"dir d2"},
       false,
       true,
       L"Q1\n\nQ2",
       L"F1"},
      {{L"s", L"force_reboot", L"EOSMARKER", L"EOSMARKER", L"f"},
       {L"wait s", L"file f"},
       true,
       true,
       L"",
       L""},
      {{L"s", L"none", L"EOSMARKER", L"EOSMARKER", L"", L"d"}, {L"wait s", L"dir d"}, false, false, L"", L""},
      // An empty first line: no semaphore, the keyword follows.
      {{L"", L"reboot_deletion", L"EOSMARKER", L"EOSMARKER", L"f"}, {L"file f"}, false, true, L"", L""},
      // An empty line after the semaphore moves on to the files: the keyword is a file.
      {{L"s", L"", L"force_reboot", L"x"},
       {L"wait s", L"file force_reboot", L"file x"},
       false,
       false,
       L"",
       L""},
      // The list ends inside the texts: nothing is deleted.
      {{L"s", L"reboot_deletion", L"Q", L"EOSMARKER", L"F"}, {L"wait s"}, false, true, L"Q", L"F"},
      {{L"s", L"Force_Reboot", L"EOSMARKER", L"EOSMARKER"}, {L"wait s"}, false, false, L"", L""},
      {{L"", L"", L"", L"d"}, {L"dir d"}, false, false, L"", L""},
      {{}, {}, false, false, L"", L""},
      // Leading empty lines of a text are dropped, later ones kept.
      {{L"s", L"k", L"", L"", L"q", L"", L"EOSMARKER", L"", L"EOSMARKER"},
       {L"wait s"},
       false,
       false,
       L"q\n",
       L""},
  };
  for (const auto& row : rows) {
    FakeEffects fx;
    DeletionOutcome out = runDeletionPasses(row.lines, fx, 60);
    EXPECT_EQ(fx.log, row.effects) << testing::PrintToString(row.lines);
    EXPECT_EQ(out.force, row.force) << testing::PrintToString(row.lines);
    EXPECT_EQ(out.mayReboot, row.mayReboot) << testing::PrintToString(row.lines);
    EXPECT_EQ(out.question, row.question) << testing::PrintToString(row.lines);
    EXPECT_EQ(out.failure, row.failure) << testing::PrintToString(row.lines);
    EXPECT_EQ(out.passes, 1);
    EXPECT_FALSE(out.rebootNeeded);
  }
}

// What resists: retried in later passes, dropped once gone, scheduled at reboot in the last
// pass with the may-reboot flag; only a scheduled file asks for a reboot.
TEST(DeletionPasses, Retries) {
  const std::vector<std::wstring> head = {L"s", L"reboot_deletion", L"Reboot now?", L"EOSMARKER",
                                          L"EOSMARKER"};
  struct Row {
    const char* what;
    std::wstring keyword;
    std::map<std::wstring, int> resist;
    int passes;
    bool rebootNeeded;
    std::vector<std::wstring> scheduled;
  } rows[] = {
      {"resists twice", L"reboot_deletion", {{L"f", 2}}, 3, false, {}},
      {"file resists for ever", L"reboot_deletion", {{L"f", -1}}, 60, true, {L"f"}},
      {"directory resists for ever", L"reboot_deletion", {{L"d", -1}}, 60, false, {L"d"}},
      {"no reboot deletion", L"other", {{L"f", -1}}, 60, false, {}},
      {"force", L"force_reboot", {{L"f", -1}}, 60, true, {L"f"}},
      {"extraction tree",
       L"reboot_deletion",
       {{L"C:\\t\\jwr1.tmp_dir5\\a", -1}},
       1,
       false,
       {L"C:\\t\\jwr1.tmp_dir5\\a"}},
      {"only one of the two marks", L"other", {{L"C:\\t\\jwr1\\a", -1}}, 60, false, {}},
  };
  for (const auto& row : rows) {
    std::vector<std::wstring> lines = head;
    lines[1] = row.keyword;
    for (const auto& [path, n] : row.resist)
      if (path != L"d") lines.push_back(path);
    lines.push_back(L"other.txt");
    lines.push_back(L"");
    lines.push_back(L"d");
    FakeEffects fx;
    fx.resist = row.resist;
    DeletionOutcome out = runDeletionPasses(lines, fx, 60);
    EXPECT_EQ(out.passes, row.passes) << row.what;
    EXPECT_EQ(out.rebootNeeded, row.rebootNeeded) << row.what;
    EXPECT_EQ(fx.count(L"file other.txt"), 1) << row.what << ": a deleted entry is not tried again";
    EXPECT_EQ(fx.count(L"pause"), row.passes - 1) << row.what << ": no pause after the last pass";
    EXPECT_EQ(fx.count(L"wait s"), row.passes) << row.what;
    std::vector<std::wstring> scheduled;
    for (const auto& e : fx.log)
      if (e.rfind(L"schedule ", 0) == 0) scheduled.push_back(e.substr(9));
    EXPECT_EQ(scheduled, row.scheduled) << row.what;
  }
}

// A path of the extraction tree is scheduled once and causes no pass of its own, but is
// tried again in passes that other entries cause.
TEST(DeletionPasses, ExtractionTreeIsScheduledOnce) {
  FakeEffects fx;
  fx.resist = {{L"jwr.tmp_dir\\x", -1}, {L"other", 3}};
  runDeletionPasses({L"s", L"k", L"EOSMARKER", L"EOSMARKER", L"jwr.tmp_dir\\x", L"other"}, fx, 60);
  EXPECT_EQ(fx.count(L"file jwr.tmp_dir\\x"), 4);
  EXPECT_EQ(fx.count(L"schedule jwr.tmp_dir\\x"), 1);
}

TEST(DeletionPasses, UnschedulableFileNeedsNoReboot) {
  FakeEffects fx;
  fx.resist = {{L"f", -1}};
  fx.unschedulable = {L"f"};
  DeletionOutcome out =
      runDeletionPasses({L"s", L"reboot_deletion", L"EOSMARKER", L"EOSMARKER", L"f"}, fx, 4);
  EXPECT_EQ(out.passes, 4);
  EXPECT_FALSE(out.rebootNeeded);
}

TEST(DeletionPasses, ShownTextsAreLongerThanFiveCharacters) {
  EXPECT_FALSE(isShownText(L""));
  EXPECT_FALSE(isShownText(L"Boot?"));
  EXPECT_TRUE(isShownText(L"Boot?!"));
}

// The directory section names the trees; texts and files before it never do.
TEST(DeletionPasses, ListedDirectories) {
  struct Row {
    std::vector<std::wstring> lines;
    std::vector<std::wstring> dirs;
  } rows[] = {
      {{L"sem", L"none", L"q", L"EOSMARKER", L"", L"EOSMARKER", L"f1", L"", L"d1", L"", L"d2"},
       {L"d1", L"d2"}},
      {{L"", L"none", L"EOSMARKER", L"EOSMARKER", L"f1", L"f2"}, {}},
      {{L"sem", L"none", L"EOSMARKER", L"d?", L"", L"x"}, {}},  // the list ends inside the texts
      {{L"sem", L"none", L"EOSMARKER", L"EOSMARKER", L"", L"d1"}, {L"d1"}},
  };
  for (const auto& r : rows) EXPECT_EQ(listedDirectories(r.lines), r.dirs);
}
