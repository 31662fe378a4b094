#include <gtest/gtest.h>

#include "core/ConfigValue.h"
#include "core/LogFormat.h"
#include "core/PathList.h"
#include "core/PathRules.h"
#include "payload/PayloadNames.h"

using namespace shipkit::core;
using shipkit::core::parseConfigInt;
using shipkit::payload::payloadNameIsSafe;

TEST(PathRules, IsRelative) {
  struct Row {
    const wchar_t* path;
    bool relative;
  } rows[] = {
      {L"C:\\x", false},
      {L"\"C:\\x\"", false},
      {L"\\\\server\\share", false},
      {L"\"\\\\srv\\s", false},
      {L"\\rooted", true},
      {L"C:x", true},
      {L"C:/x", true},
      {L"C:", true},
      {L"\"C:", true},
      {L"", true},
      {L"lib", true},
      {L"..\\x", true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(isRelative<wchar_t>(row.path), row.relative) << testing::PrintToString(std::wstring(row.path));
    std::string narrow(row.path, row.path + wcslen(row.path));
    EXPECT_EQ(isRelative<char>(narrow), row.relative) << narrow;
  }
}

TEST(PathRules, CollapseBackslashesKeepsTheNetworkPrefix) {
  struct Row {
    const char* in;
    const char* out;
  } rows[] = {
      {"C:\\\\a\\\\\\b", "C:\\a\\b"},
      {"\\\\server\\\\share", "\\\\server\\share"},
      {"\\\\\\x", "\\\\x"},
      {"a\\", "a\\"},
      {"", ""},
      {"\\", "\\"},
  };
  for (const auto& row : rows) EXPECT_EQ(collapseBackslashes<char>(row.in), row.out) << row.in;
}

TEST(PathRules, DriveRootFormsAndExeSuffix) {
  EXPECT_TRUE(isDriveRootForm<char>("c:\\"));
  EXPECT_TRUE(isDriveRootForm<char>("c:\\."));
  EXPECT_TRUE(isDriveRootForm<char>("c:\\.\\."));
  EXPECT_FALSE(isDriveRootForm<char>("c:\\.."));
  EXPECT_FALSE(isDriveRootForm<char>("c:"));
  EXPECT_FALSE(isDriveRootForm<char>("c:\\x"));
  EXPECT_TRUE(endsWithExe<char>("a.EXE"));
  EXPECT_FALSE(endsWithExe<char>(".exe"));
  EXPECT_FALSE(endsWithExe<char>("a.exe "));
  EXPECT_EQ(lowerAZ<char>("AbC\xC4"), "abc\xC4");
  EXPECT_EQ(directoryOf<char>("C:\\a\\b.exe"), "C:\\a\\");
  EXPECT_EQ(directoryOf<char>("b.exe"), "");
}

TEST(PathList, ReducePathRemovesWindowsEntriesByPrefix) {
  struct Row {
    const wchar_t* path;
    const wchar_t* reduced;
  } rows[] = {
      {L"C:\\windows\\system32;D:\\tools;C:\\Windows", L"D:\\tools"},
      // A sibling that only shares the prefix goes too.
      {L"C:\\WindowsApps\\x;D:\\a", L"D:\\a"},
      {L";;D:\\a;;E:\\b;", L"D:\\a;E:\\b"},
      {L"C:\\windows;C:\\windows\\system32", L""},
  };
  for (const auto& row : rows) EXPECT_EQ(reducedPath(row.path, L"C:\\windows"), row.reduced);
}

TEST(ConfigValue, ParseIntLikeTheRuntime) {
  struct Row {
    const char* text;
    int32_t value;
  } rows[] = {
      {" 7", 7},
      {"-1", -1},
      {"0x10", 0},
      {"", 0},
      {"abc", 0},
      {"12abc", 12},
      {"+5", 5},
      {"\t\n 3", 3},
      {"- 3", 0},
      {"99999999999", INT32_MAX},
      {"-99999999999", INT32_MIN},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
  };
  for (const auto& row : rows) EXPECT_EQ(parseConfigInt(row.text), row.value) << '"' << row.text << '"';
}

TEST(PayloadNames, NamesThatLeaveTheDirectoryAreUnsafe) {
  struct Row {
    const char* name;
    bool safe;
  } rows[] = {
      {"sktruntime.jar", true},
      {"lib\\a.jar", true},
      {"a\\b\\c.txt", true},
      {"..\\x", false},
      {"a\\..\\..\\x", false},
      {"C:\\x", false},
      {"c:x", false},
      {"\\x", false},
      {"a/../x", false},
      {"", false},
      {"a\\\\b", false},
      {".", false},
      {"a\\. .\\b", false},
      {"...", false},
      {"a.b..c", true},
      {"a\\", false},
      // Device names, with or without extension, in any case and at any level.
      {"CON", false},
      {"nul", false},
      {"Aux.txt", false},
      {"lib\\prn.jar", false},
      {"COM1", false},
      {"lpt9.log", false},
      {"CON .txt", false},
      {"com\xb9", false},
      {"CONOUT$", false},
      {"COM0", true},
      {"COM10", true},
      {"CONFIG", true},
      {"nul-x.txt", true},
      {"LPT", true},
      // Windows drops a trailing dot or blank, and refuses some characters outright.
      {"a.", false},
      {"lib \\a.jar", false},
      {"a.jar ", false},
      {"a?b", false},
      {"a*", false},
      {"a|b", false},
      {"a<b>", false},
      {"a\"b", false},
      {"a\tb", false},
      {".hidden", true},
  };
  for (const auto& row : rows) EXPECT_EQ(payloadNameIsSafe(row.name), row.safe) << row.name;
}

TEST(LogFormat, PrefixNamesAndEncoding) {
  EXPECT_EQ(logPrefix(1500), L"[1:500] ");
  EXPECT_EQ(logPrefix(2050), L"[2:50] ");
  EXPECT_EQ(logPrefix(0), L"[0:0] ");
  EXPECT_EQ(logFileName(L"C:\\t\\", 4), L"C:\\t\\skt_nlog_4.log");
  EXPECT_EQ(logDirectory(L""), L"c:\\");
  EXPECT_EQ(logDirectory(L"C:\\t"), L"C:\\t\\");
  EXPECT_EQ(logDirectory(L"C:\\t\\"), L"C:\\t\\");
  EXPECT_EQ(logDirectory(L"C:/t/"), L"C:/t/");
  EXPECT_EQ(toUtf8TextMode(L"a\nb"), "a\r\nb");
  EXPECT_EQ(toUtf8TextMode(L"\u00e9\u20ac"), "\xC3\xA9\xE2\x82\xAC");
  std::wstring pair;
  pair += wchar_t(0xD83D);
  pair += wchar_t(0xDE00);
  if (sizeof(wchar_t) == 2) {
    EXPECT_EQ(toUtf8TextMode(pair), "\xF0\x9F\x98\x80");
  }
  std::wstring lone(1, wchar_t(0xD800));
  EXPECT_EQ(toUtf8TextMode(lone), "\xEF\xBF\xBD");
}
