// The user language key and the localized message sets, with Wine running as users of
// different locales.
#include <gtest/gtest.h>

#include "E2eSupport.h"

using namespace e2e;

namespace {

json localizedManifest() {
  json m = Sandbox::baseManifest();
  m["config"]["107"] = "1";  // message boxes
  m["config"]["155"] = "1";  // no progress dialog: the runtime step shows its error at once
  m["config"]["157"] = "1";  // a download without a location: three failed attempts, message 20003
  m["localized"] = json::array({
      {{"key", "de"}, {"messages", {{"1000", "Fehler"}, {"20003", "Kein Java (64 Bit)"}}}},
      {{"key", "fr"}, {"messages", {{"1000", "Erreur"}, {"20003", "Pas de Java (64 bits)"}}}},
      {{"key", "es"}, {"messages", {{"1000", "Error ES"}, {"20003", "Sin Java (64 bits)"}}}},
      {{"key", "de_CH"}, {"messages", {{"20003", "Kein Java in der Schweiz (64 Bit)"}}}},
  });
  return m;
}

struct LanguageCase {
  const char* locale;
  const char* key;
  const char* caption;
  const char* text;
};

void PrintTo(const LanguageCase& c, std::ostream* os) {
  *os << c.locale;
}

class Language : public testing::TestWithParam<LanguageCase> {};

}  // namespace

TEST_P(Language, SetsApplyByPrefixInStoredOrder) {
  const LanguageCase& c = GetParam();
  Sandbox box;
  RunResult r =
      box.run(box.build(localizedManifest()), "-manual",
              {.env = {{"SHIPKIT_LOG", "yes"}, {"SHIPKIT_DOWNLOAD_POLICY", "3,0,1,0"}}, .lang = c.locale});
  EXPECT_EQ(r.exitCode, 1);
  ASSERT_EQ(r.dialogs.size(), 1u) << r.err;
  std::string expected = std::string(c.caption) + "|" + c.text + "\\n\\nLog: ";
  EXPECT_EQ(r.dialogs[0].substr(0, expected.size()), expected) << r.dialogs[0];
  auto lines = Sandbox::logLines(box.logs().at(0));
  EXPECT_TRUE(contains(lines, std::string("language/country is ") + c.key)) << testing::PrintToString(lines);
  EXPECT_TRUE(contains(lines, "sun.locale.formatasdefault is false"));
}

INSTANTIATE_TEST_SUITE_P(
    Locales, Language,
    testing::Values(
        // "de" and the later "de_CH" both apply; for 20003 the later one wins.
        LanguageCase{"de_CH.UTF-8", "de_CH", "Fehler", "Kein Java in der Schweiz (64 Bit)"},
        LanguageCase{"de_DE.UTF-8", "de_DE", "Fehler", "Kein Java (64 Bit)"},
        // es-US (21514) is not in the table: its primary language gives "es".
        LanguageCase{"es_US.UTF-8", "es", "Error ES", "Sin Java (64 bits)"},
        // English: no set applies; "fr" is read and discarded.
        LanguageCase{"C.UTF-8", "en_US", "Error", "Error downloading the Java(TM) Runtime Environment."}),
    [](const testing::TestParamInfo<LanguageCase>& info) { return "case" + std::to_string(info.index); });

TEST(Language, FormatLocaleArgumentIsLogged) {
  Sandbox box;
  RunResult r = box.run(box.build(Sandbox::baseManifest()), "-q -manual -Dsun.locale.formatasdefault=true",
                        {.env = {{"SHIPKIT_LOG", "yes"}}, .lang = "de_CH.UTF-8"});
  EXPECT_EQ(r.exitCode, 83);
  auto lines = Sandbox::logLines(box.logs().at(0));
  EXPECT_TRUE(contains(lines, "sun.locale.formatasdefault is true"));
  // Wine derives both the format locale and the interface language from LANG.
  EXPECT_TRUE(contains(lines, "language/country is de_CH"));
}
