#include <gtest/gtest.h>

#include "core/CommandLine.h"

using shipkit::core::parseRunSwitches;
using shipkit::core::splitCommandLine;
using shipkit::core::takeLogSwitch;
using shipkit::core::takeTempSwitch;
using Words = std::vector<std::wstring>;

struct SplitCase {
  const wchar_t* text;
  Words words;
};

class SplitCommandLine : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, Words) {
  Words words;
  splitCommandLine(GetParam().text, words);
  EXPECT_EQ(words, GetParam().words) << "for: " << testing::PrintToString(std::wstring(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SplitCommandLine,
    testing::Values(
        SplitCase{L"", {}}, SplitCase{L"   ", {}}, SplitCase{L"a b  c ", {L"a", L"b", L"c"}},
        // Tabs are ordinary characters.
        SplitCase{L"a\tb c", {L"a\tb", L"c"}},
        SplitCase{L"\"C:\\Program Files\\x.exe\" -q", {L"C:\\Program Files\\x.exe", L"-q"}},
        SplitCase{L"'single quoted' x", {L"single quoted", L"x"}},
        // Text glued before an opening quote joins the word; after a closing quote a new word starts.
        SplitCase{L"pre\"quoted part\"post", {L"prequoted part", L"post"}},
        SplitCase{L"-Dx=\"a b\" next", {L"-Dx=a b", L"next"}},
        // The nearer quote wins; the other kind is ordinary inside it.
        SplitCase{L"\"it's here\" 'say \"hi\"'", {L"it's here", L"say \"hi\""}},
        SplitCase{L"a'b c'd", {L"ab c", L"d"}},
        // An unterminated quote takes the rest of the line.
        SplitCase{L"x \"rest of  line", {L"x", L"rest of  line"}}, SplitCase{L"x 'open", {L"x", L"open"}},
        // Empty quotes make an empty word.
        SplitCase{L"-temp \"\" x", {L"-temp", L"", L"x"}},
        // No escape character: backslashes stay.
        SplitCase{L"a\\\" b\"",
                  {
                      L"a\\ b",
                  }},
        SplitCase{L"\"a\"\"b\"", {L"a", L"b"}},
        // After a closing quote exactly one blank is skipped; further blanks are skipped too.
        SplitCase{L"\"a\"   b", {L"a", L"b"}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return "case" + std::to_string(info.index); });

TEST(LogSwitch, OnlyDirectlyAfterTheProgramPath) {
  struct Row {
    Words args;
    bool taken;
    Words rest;
  } rows[] = {
      {{L"x.exe", L"-create-skt-log", L"-q"}, true, {L"x.exe", L"-q"}},
      {{L"x.exe", L"-create-jwr-log"}, true, {L"x.exe"}},
      {{L"x.exe", L"/create-skt-log"}, true, {L"x.exe"}},
      {{L"x.exe", L"/create-jwr-log"}, true, {L"x.exe"}},
      {{L"x.exe", L"-q", L"-create-skt-log"}, false, {L"x.exe", L"-q", L"-create-skt-log"}},
      {{L"x.exe", L"-CREATE-SKT-LOG"}, false, {L"x.exe", L"-CREATE-SKT-LOG"}},
      {{L"x.exe"}, false, {L"x.exe"}},
  };
  for (auto& row : rows) {
    Words args = row.args;
    EXPECT_EQ(takeLogSwitch(args), row.taken);
    EXPECT_EQ(args, row.rest);
  }
}

TEST(TempSwitch, FirstOccurrenceOnly) {
  struct Row {
    Words args;
    bool usable;
    Words rest;
    Words tried;
  } rows[] = {
      {{L"x.exe", L"-temp", L"D:\\t", L"-q"}, true, {L"x.exe", L"-temp", L"D:\\t", L"-q"}, {L"D:\\t"}},
      {{L"x.exe", L"-temp", L"D:\\t", L"-q"}, false, {L"x.exe", L"-q"}, {L"D:\\t"}},
      {{L"x.exe", L"/temp", L"D:\\t"}, false, {L"x.exe"}, {L"D:\\t"}},
      {{L"x.exe", L"-q", L"-temp"}, true, {L"x.exe", L"-q"}, {}},
      {{L"x.exe", L"-temp", L"", L"-q"}, true, {L"x.exe", L"", L"-q"}, {}},
      {{L"x.exe", L"-temp", L"a", L"-temp", L"b"}, false, {L"x.exe", L"-temp", L"b"}, {L"a"}},
      {{L"x.exe", L"-TEMP", L"a"}, false, {L"x.exe", L"-TEMP", L"a"}, {}},
  };
  for (auto& row : rows) {
    Words args = row.args, tried;
    takeTempSwitch(args, [&](const std::wstring& d) {
      tried.push_back(d);
      return row.usable;
    });
    EXPECT_EQ(args, row.rest);
    EXPECT_EQ(tried, row.tried);
  }
}

TEST(RunSwitches, ExactAndCaseSensitive) {
  auto s = parseRunSwitches({L"x.exe", L"-Q", L"-Manual", L"-NOCHECK", L"-Console"});
  EXPECT_FALSE(s.quiet);
  EXPECT_FALSE(s.manual);
  EXPECT_TRUE(s.integrityCheck);
  EXPECT_FALSE(s.console);

  s = parseRunSwitches({L"x.exe", L"-q"});
  EXPECT_TRUE(s.quiet);
  EXPECT_TRUE(s.messageBoxOff);
  EXPECT_FALSE(s.console);

  s = parseRunSwitches({L"x.exe", L"-c", L"/manual", L"-nocheck", L"-splash"});
  EXPECT_TRUE(s.quiet);
  EXPECT_TRUE(s.console);
  EXPECT_TRUE(s.manual);
  EXPECT_FALSE(s.integrityCheck);
  EXPECT_TRUE(s.splash);

  // The program path itself is walked too.
  s = parseRunSwitches({L"-q"});
  EXPECT_TRUE(s.quiet);
  s = parseRunSwitches({L"x.exe", L"-console"});
  EXPECT_TRUE(s.console);
  EXPECT_FALSE(s.quiet);
}
