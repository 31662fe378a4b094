#include <gtest/gtest.h>

#include "jvm/launch/Expansion.h"

using namespace shipkit::jvm;

namespace {

ExpansionValues<char> values() {
  ExpansionValues<char> v;
  v.launcherDir = "C:\\App\\";
  v.launcherTempDir = "C:\\T\\jwr1.tmp_dir9";
  v.systemTempDir = "C:\\T";
  v.environment = {{"Path", "C:\\bin"}, {"JAVA_HOME", "C:\\jdk"}, {"lower", "l"}, {"SELF", "${SELF}x"}};
  return v;
}

}  // namespace

TEST(Expansion, Tokens) {
  struct Row {
    const char* in;
    const char* out;
  } rows[] = {
      {"${launcher:sys.launcherDirectory}lib", "C:\\App\\lib"},
      {"%SHIPKIT_EXEDIR%a;%JARWRAP_EXEDIR%b", "C:\\App\\a;C:\\App\\b"},
      {"%SHIPKIT_PATHLIST_SEPARATOR%", ";"},
      {"${JARWRAP_PATHLIST_SEPARATOR}${launcher:sys.pathlistSeparator}", ";;"},
      {"${SHIPKIT_TEMPDIR}\\x", "C:\\T\\jwr1.tmp_dir9\\x"},
      {"${launcher:sys.tempDir}", "C:\\T"},
      // No runtime chosen yet: the home is empty.
      {"[${launcher:sys.jvmHome}]", "[]"},
      {"${JAVA_HOME}\\bin ${JAVA_HOME}", "C:\\jdk\\bin C:\\jdk"},
      // The name as it stands, then upper-cased; other spellings stay.
      {"${Path}|${PATH}|${path}", "C:\\bin|C:\\bin|${path}"},
      {"${lower}${LOWER}", "ll"},
      {"${UNSET_VARIABLE}", "${UNSET_VARIABLE}"},
      // Case-sensitive tokens.
      {"%shipkit_exedir%", "%shipkit_exedir%"},
      // A value holding its own token is not expanded again.
      {"${SELF}", "${SELF}x"},
  };
  for (const auto& row : rows) {
    std::string text = row.in;
    expandVariables<char>(text, values());
    EXPECT_EQ(text, row.out) << row.in;
  }
}

TEST(Expansion, TextInsertedForOneTokenIsSearchedForLaterTokens) {
  ExpansionValues<char> v = values();
  v.launcherDir = "${JAVA_HOME}\\";
  std::string text = "%SHIPKIT_EXEDIR%x";
  expandVariables<char>(text, v);
  EXPECT_EQ(text, "C:\\jdk\\x");
  // An earlier token in the table is not searched again.
  v = values();
  v.environment = {{"X", "%SHIPKIT_EXEDIR%"}};
  text = "${X}";
  expandVariables<char>(text, v);
  EXPECT_EQ(text, "%SHIPKIT_EXEDIR%");
}

TEST(Expansion, OneLogLinePerReplacementWithTheWholeText) {
  std::vector<std::string> lines;
  std::string text = "${JAVA_HOME};${JAVA_HOME}";
  expandVariables<char>(
      text, values(), [&](std::string_view token, std::string_view value, std::string_view all) {
        lines.push_back(std::string(token) + " -> " + std::string(value) + " : " + std::string(all));
      });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "${JAVA_HOME} -> C:\\jdk : C:\\jdk;${JAVA_HOME}");
  EXPECT_EQ(lines[1], "${JAVA_HOME} -> C:\\jdk : C:\\jdk;C:\\jdk");
}

TEST(Expansion, LongResultsGrowInsteadOfOverflowing) {
  ExpansionValues<wchar_t> v;
  v.environment = {{L"BIG", std::wstring(5000, L'x')}};
  std::wstring text;
  for (int i = 0; i < 10; ++i) text += L"${BIG}";
  expandVariables<wchar_t>(text, v);
  EXPECT_EQ(text.size(), 50000u);
  EXPECT_EQ(text.find_first_not_of(L'x'), std::wstring::npos);
}
