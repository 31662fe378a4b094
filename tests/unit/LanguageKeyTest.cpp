#include <gtest/gtest.h>

#include "payload/LanguageKey.h"

using namespace shipkit::payload;

TEST(LanguageKey, ExactThenPrimaryLanguage) {
  struct Row {
    uint16_t id;
    const char* key;
  } rows[] = {
      {2055, "de_CH"},
      {1031, "de_DE"},
      {1033, "en_US"},
      {2057, "en_GB"},
      {2068, "no_NO_NY"},
      {9225, "en"},
      {1073, "ts"},
      {1092, "tt"},
      {2066, "ko_KR"},
      {3082, "es_ES"},
      {3098, "sr_CS"},
      {20490, "es_PR"},
      // No exact entry: the primary language (id & 0x3FF) decides.
      {7180, "fr"},
      {0x0807 + 0x1000, "de"},
      {0x0409 + 0x4000, "en"},
      // Primary ids match directly too.
      {7, "de"},
      {86, "gl"},
      // Unknown primary language: no key (the caller keeps "en").
      {0x0400 | 100, ""},
      {0, ""},
      // 1050 is hr_HR, but its primary language 26 is sr.
      {1050, "hr_HR"},
      {0x041A + 0x0800, "sr_CS"},
  };
  for (const auto& row : rows) EXPECT_EQ(languageKeyFor(row.id), row.key) << "id " << row.id;
}

TEST(LanguageKey, TableSpotChecksAcrossTheWholeTable) {
  // First, middle and last entries of each block, so a dropped or shifted row shows.
  EXPECT_EQ(languageKeyFor(1), "ar");
  EXPECT_EQ(languageKeyFor(1025), "ar_SA");
  EXPECT_EQ(languageKeyFor(1110), "gl_ES");
  EXPECT_EQ(languageKeyFor(2049), "ar_IQ");
  EXPECT_EQ(languageKeyFor(2115), "uz_UZ");
  EXPECT_EQ(languageKeyFor(2092), "az_AZ");
  EXPECT_EQ(languageKeyFor(5127), "de_LI");
  EXPECT_EQ(languageKeyFor(14346), "es_UY");
  EXPECT_EQ(languageKeyFor(19466), "es_NI");
}

TEST(LanguageKey, FormatLocaleSwitchLastOneWins) {
  struct Row {
    std::vector<std::wstring> args;
    bool requested;
  } rows[] = {
      {{L"x.exe"}, false},
      {{L"x.exe", L"-Dsun.locale.formatasdefault=true"}, true},
      {{L"x.exe", L"-Dsun.locale.formatasdefault=TRUE"}, false},
      {{L"x.exe", L"-Dsun.locale.formatasdefault=true", L"-Dsun.locale.formatasdefault=false"}, false},
      {{L"x.exe", L"-Dsun.locale.formatasdefault=", L"-Dsun.locale.formatasdefault=true"}, true},
      {{L"x.exe", L"-Dsun.locale.formatasdefault=true "}, false},
      {{L"x.exe", L"-DSUN.locale.formatasdefault=true"}, false},
  };
  for (const auto& row : rows) EXPECT_EQ(formatLocaleRequested(row.args), row.requested);
}

TEST(LanguageKey, CodesFromKey) {
  struct Row {
    const char* key;
    const char* language;
    const char* country;
  } rows[] = {{"de_CH", "de", "CH"}, {"fr", "fr", ""}, {"no_NO_NY", "no", ""}, {"en", "en", ""}};
  for (const auto& row : rows) {
    LanguageCodes codes = splitLanguageKey(row.key);
    EXPECT_EQ(codes.language, row.language);
    EXPECT_EQ(codes.country, row.country);
  }
}
