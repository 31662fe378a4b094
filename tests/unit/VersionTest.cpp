// Java version numbers, bounds, the newer-than comparison, the "java -version" first line and
// the rules of the registry sources that build on them.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "jvm/locate/RegistryRules.h"
#include "jvm/locate/Version.h"

using namespace shipkit::jvm;
using namespace std::string_literals;

TEST(VersionNumber, ParsesPiecesBetweenSeparators) {
  struct Row {
    std::string text;
    VersionNumber number;
  } rows[] = {
      {"1.8.0_201", {1, 8, 0, 201}},
      {"11.0.2+9", {11, 0, 2, 9}},
      {"9-ea", {9, 0}},
      {"1.8.0_201-b09", {1, 8, 0, 201, 0}},
      {"17.0.1+12-LTS", {17, 0, 1, 12, 0}},
      {"10", {10}},
      {"", {}},
      // Runs of separators count as one; empty pieces at either end are dropped.
      {"..1__8.-+", {1, 8}},
      {"+-._", {}},
      // Each piece is read up to its first non-digit.
      {"1.8.0_201abc", {1, 8, 0, 201}},
      {"abc", {0}},
      {"1.x7", {1, 0}},
      {"007.08", {7, 8}},
      // Larger than 32 bits: clamped rather than wrapped.
      {"99999999999.1", {INT32_MAX, 1}},
  };
  for (const auto& row : rows) EXPECT_EQ(parseVersion(row.text), row.number) << row.text;
}

TEST(VersionBound, ComparesOnlyTheBoundsPositions) {
  struct Row {
    std::string bound;
    std::string candidate;
    bool isMaximum;
    bool lenient;
    bool passes;
  } rows[] = {
      {"11", "11.0.2", true, false, true},
      {"11", "11.0.20", true, false, true},
      {"1.8", "1.8.0_201", false, false, true},
      {"1.8", "9", true, false, false},
      {"1.8", "1.7.0_80", false, false, false},
      {"11", "12", true, false, false},
      {"11", "10", true, false, true},
      // The first differing component decides, whatever follows.
      {"1.8", "2.0", false, false, true},
      {"1.8", "1.9.0", true, false, false},
      // A candidate that runs out: strict counts its missing components as 0, lenient passes.
      {"9.0.1", "9", false, false, false},
      {"9.0.1", "9", false, true, true},
      {"1.8.0", "1.8", false, false, true},
      {"1.8.0", "1.8", true, true, true},
      {"0.0.1", "", false, false, false},
      {"0.0.1", "", false, true, true},
      // An empty bound accepts everything.
      {"", "1.7", false, false, true},
      {"", "99", true, false, true},
      // All positions equal passes for both kinds of bound.
      {"11.0.2", "11.0.2", false, false, true},
      {"11.0.2", "11.0.2", true, false, true},
  };
  for (const auto& row : rows)
    EXPECT_EQ(boundTest(parseVersion(row.bound), parseVersion(row.candidate), row.isMaximum, row.lenient),
              row.passes)
        << (row.isMaximum ? "maximum " : "minimum ") << row.bound << " candidate " << row.candidate
        << (row.lenient ? " lenient" : " strict");
}

TEST(VersionAcceptable, BoundsFromOnePointEightToEleven) {
  const VersionNumber minimum = parseVersion("1.8");
  const VersionNumber maximum = parseVersion("11");
  struct Row {
    std::string version;
    VersionVerdict verdict;
  } rows[] = {
      {"1.7.0_80", VersionVerdict::outOfRange},    {"1.8.0_201", VersionVerdict::accepted},
      {"9.0.4", VersionVerdict::accepted},         {"10", VersionVerdict::accepted},
      {"11.0.2", VersionVerdict::accepted},        {"12", VersionVerdict::outOfRange},
      {"1.8.0_201-b09", VersionVerdict::accepted},
  };
  for (const auto& row : rows)
    EXPECT_EQ(judgeVersion(row.version, minimum, maximum, false), row.verdict) << row.version;
}

TEST(VersionAcceptable, PreReleaseIsAPlainCaseSensitiveSubstringTest) {
  const VersionNumber minimum = parseVersion("1.8");
  const VersionNumber maximum = parseVersion("11");
  struct Row {
    std::string version;
    bool preRelease;
  } rows[] = {
      {"11-ea", true},          {"9-ea", true},    {"1.8.0-beta", true}, {"11.0.2-rc1", true},
      {"1.8.0-leap", true},  // "ea" inside a word counts
      {"1.8.0_201-b09", false}, {"9-BETA", false}, {"9-EA", false},      {"10.0.1", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(isPreRelease(row.version), row.preRelease) << row.version;
    EXPECT_EQ(judgeVersion(row.version, minimum, maximum, false),
              row.preRelease ? VersionVerdict::preRelease : VersionVerdict::accepted)
        << row.version;
    // Allowed pre-releases are judged by their numbers only.
    EXPECT_EQ(judgeVersion(row.version, minimum, maximum, true), VersionVerdict::accepted) << row.version;
  }
  // The pre-release test comes first: an out-of-range pre-release is reported as pre-release.
  EXPECT_EQ(judgeVersion("12-ea", minimum, maximum, false), VersionVerdict::preRelease);
  EXPECT_EQ(judgeVersion("12-ea", minimum, maximum, true), VersionVerdict::outOfRange);
}

TEST(VersionAcceptable, StrictAndLenientDifferWhereTheCandidateRunsOut) {
  const VersionNumber minimum = parseVersion("9.0.1");
  EXPECT_EQ(judgeVersion("9", minimum, {}, false), VersionVerdict::outOfRange);
  EXPECT_TRUE(isVersionInRangeLenient("9", minimum, {}));
  EXPECT_EQ(judgeVersion("9.0.1", minimum, {}, false), VersionVerdict::accepted);
  EXPECT_FALSE(isVersionInRangeLenient("9.0.0", minimum, {}));
  // Registry key names such as "1.8" and "11" fall within 1.8 to 11 by the lenient test.
  EXPECT_TRUE(isVersionInRangeLenient("1.8", parseVersion("1.8.0_100"), parseVersion("11")));
  EXPECT_FALSE(isVersionInRangeLenient("12", parseVersion("1.8"), parseVersion("11")));
  // Lenient has no pre-release test.
  EXPECT_TRUE(isVersionInRangeLenient("11-ea", parseVersion("1.8"), parseVersion("11")));
}

TEST(VersionAcceptable, EmptyBoundsAcceptEveryReadableVersion) {
  for (const char* version : {"1.0", "1.0.0", "99.99", "0", ""})
    EXPECT_EQ(judgeVersion(version, {}, {}, false), VersionVerdict::accepted) << version;
}

TEST(VersionGreater, StrictlyNewerOnly) {
  struct Row {
    std::string a;
    std::string b;
    bool greater;
  } rows[] = {
      {"1.8.0", "1.8", true},
      {"1.8", "1.8.0", false},
      {"11.0.2", "11.0.2", false},
      {"", "1", false},
      {"", "", false},
      {"1", "", true},
      {"11", "9.0.4", true},
      {"9.0.4", "11", false},
      {"1.8.0_1000", "1.8.0_201", true},
      {"1.8.0_201", "1.8.0_1000", false},
      {"11.0.3", "11.0.2", true},
      {"11.0.2", "11.0.3", false},
      // Pieces without digits are 0, so these are equal.
      {"9-ea", "9.0", false},
      {"9.0", "9-ea", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(isVersionGreater(row.a, row.b), row.greater) << row.a << " > " << row.b;
}

TEST(VersionLine, ReadsTheVersionBetweenTheQuotesOfAKnownFirstLine) {
  struct Row {
    std::string line;
    std::optional<std::string> version;
  } rows[] = {
      {"java version \"1.8.0_201\"\n", "1.8.0_201"},
      {"openjdk version \"11.0.2\" 2019-01-15\n", "11.0.2"},
      {"openjdk version \"17\" 2021-09-14 LTS\n", "17"},
      {"java version \"9-ea\"\n", "9-ea"},
      {"java version \"\"\n", ""},
      {"java version \"1.8.0_201\"", "1.8.0_201"},
      // Other beginnings give nothing.
      {"Picked up _JAVA_OPTIONS: -Xmx1m\n", std::nullopt},
      {"Java version \"1.8.0_201\"\n", std::nullopt},
      {"java  version \"1.8.0_201\"\n", std::nullopt},
      {"openjdk version 11\n", std::nullopt},
      {"java version", std::nullopt},
      {"", std::nullopt},
      {" java version \"1.8\"\n", std::nullopt},
      // No closing quote: the rest of the line without its line end, however it ends.
      {"java version \"1.8.0_201\r\n", "1.8.0_201"},
      {"java version \"1.8.0_201\n", "1.8.0_201"},
      {"java version \"x", "x"},
      {"java version \"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(versionFromFirstLine(row.line), row.version) << row.line;
}

TEST(VersionLine, OnlyTheFirstNinetyNineCharactersCount) {
  const std::string prefix = "openjdk version \"";
  // The closing quote at position 99 lies just beyond what is read.
  const std::string version(99 - prefix.size(), '7');
  const std::string line = prefix + version + "\"\n";
  ASSERT_EQ(line.find('"', prefix.size()), 99u);
  // Without the quote the version runs to the end of what was read.
  EXPECT_EQ(versionFromFirstLine(line), version);
  // One character shorter and the quote is within reach.
  const std::string shorter = prefix + version.substr(1) + "\"\n";
  EXPECT_EQ(versionFromFirstLine(shorter), version.substr(1));
}

TEST(RegistryRules, KeyNameFormTurnsBackslashesIntoSlashesAndBack) {
  EXPECT_EQ(keyNameForm("c:\\program files\\java\\bin\\java.exe"), "c:/program files/java/bin/java.exe");
  EXPECT_EQ(pathFromKeyName("c:/program files/java/bin/java.exe"), "c:\\program files\\java\\bin\\java.exe");
  EXPECT_EQ(pathFromKeyName(keyNameForm("\\\\server\\share\\skt_jres\\bin\\java.exe")),
            "\\\\server\\share\\skt_jres\\bin\\java.exe");
  // A slash in the path itself does not come back as a slash.
  EXPECT_EQ(pathFromKeyName(keyNameForm("c:/odd\\java.exe")), "c:\\odd\\java.exe");
}

TEST(RegistryRules, CachedVersionValues) {
  struct Row {
    std::string data;
    std::size_t capacity;
    std::optional<std::string> version;
  } rows[] = {
      {"11.0.2", 6000, "11.0.2"},  // written without its terminator
      {"11.0.2\0"s, 6000, "11.0.2"},
      {"11.0.2\0junk"s, 6000, "11.0.2"},
      {"", 6000, ""},
      {"1.0.0", 6000, "1.0.0"},  // the caller, not the reader, ignores the failure marker
      {"1.5.", 6000, std::nullopt},
      {"1.6.", 6000, std::nullopt},
      {"1.7.\0"s, 6000, std::nullopt},
      {"1.6.0", 6000, "1.6.0"},
      {"1.6", 6000, "1.6"},
      {"x1.7.", 6000, "x1.7."},
      // It must fit the caller's buffer together with its terminator.
      {std::string(1999, '9'), 2000, std::string(1999, '9')},
      {std::string(2000, '9'), 2000, std::nullopt},
      {std::string(5999, '1'), 6000, std::string(5999, '1')},
      {std::string(6000, '1'), 6000, std::nullopt},
  };
  for (const auto& row : rows)
    EXPECT_EQ(cachedVersion(row.data, row.capacity), row.version)
        << row.data.substr(0, 20) << " / " << row.capacity;
}

TEST(RegistryRules, FileTimeIsStoredLittleEndian) {
  const std::array<uint8_t, 8> expected{0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(fileTimeBytes(0x0102030405060708ull), expected);
  EXPECT_EQ(fileTimeBytes(0), (std::array<uint8_t, 8>{}));
}

TEST(RegistryRules, VersionKeysAreTriedGreatestTextFirst) {
  struct Row {
    std::vector<std::string> names;
    std::string minimum;
    std::string maximum;
    std::vector<std::string> order;
  } rows[] = {
      {{"1.8.0_201", "9.0.4", "11.0.2"}, "1.8", "11", {"9.0.4", "11.0.2", "1.8.0_201"}},
      {{"1.8.0_1000", "1.8.0_201"}, "", "", {"1.8.0_201", "1.8.0_1000"}},
      {{"1.7.0_80", "12", "10", "1.8"}, "1.8", "11", {"10", "1.8"}},
      // Lenient: "1.8" passes a minimum of 1.8.0_100, "11" a maximum of 11.0.2.
      {{"1.8", "11"}, "1.8.0_100", "11.0.2", {"11", "1.8"}},
      {{}, "1.8", "11", {}},
  };
  for (const auto& row : rows)
    EXPECT_EQ(versionKeysInTryOrder(row.names, parseVersion(row.minimum), parseVersion(row.maximum)),
              row.order)
        << testing::PrintToString(row.names);
}

namespace {

std::optional<FoundJvm> jvm(const char* exe, const char* version) {
  return FoundJvm{exe, version};
}
std::string exeOf(const std::optional<FoundJvm>& found) {
  return found ? found->javaExe : "none";
}

}  // namespace

TEST(RegistryRules, LocatedMachineWinsUnlessTheUsersIsNewer) {
  struct Row {
    std::optional<FoundJvm> user;
    std::optional<FoundJvm> machine;
    std::string chosen;
  } rows[] = {
      {jvm("u", "11.0.2"), jvm("m", "11.0.2"), "m"}, {jvm("u", "11.0.3"), jvm("m", "11.0.2"), "u"},
      {jvm("u", "11.0.1"), jvm("m", "11.0.2"), "m"}, {jvm("u", "1.8.0"), jvm("m", "1.8"), "u"},
      {jvm("u", "11"), std::nullopt, "u"},           {std::nullopt, jvm("m", "11"), "m"},
      {std::nullopt, std::nullopt, "none"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(exeOf(chooseLocated(row.user, row.machine)), row.chosen)
        << exeOf(row.user) << " / " << exeOf(row.machine);
}

TEST(RegistryRules, JavaSoftWinsOnlyWhenNewerThanTheLocated) {
  struct Row {
    std::optional<FoundJvm> javaSoft;
    std::optional<FoundJvm> located;
    std::string chosen;
  } rows[] = {
      {jvm("sun", "11.0.2"), jvm("loc", "11.0.2"), "loc"},
      {jvm("sun", "11.0.3"), jvm("loc", "11.0.2"), "sun"},
      {jvm("sun", "1.8.0_201"), jvm("loc", "11.0.2"), "loc"},
      {jvm("sun", "1.8"), std::nullopt, "sun"},
      {std::nullopt, jvm("loc", "1.8"), "loc"},
      {std::nullopt, std::nullopt, "none"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(exeOf(chooseRegistryResult(row.javaSoft, row.located)), row.chosen)
        << exeOf(row.javaSoft) << " / " << exeOf(row.located);
}
