#include <gtest/gtest.h>

#include "win/Text.h"

using shipkit::win::narrowIn;

namespace {

struct NarrowCase {
  UINT codePage;
  std::wstring text;
  std::string expected;
  bool clean;
};

// A machine whose ANSI code page is UTF-8 (65001) must get every path and option back whole;
// single-byte pages get "?" for what they cannot hold, without best-fit look-alikes.
TEST(Text, NarrowInEveryCodePage) {
  const NarrowCase cases[] = {
      {CP_UTF8, L"C:\\J\u00e4va\\\u20ac\\\u4e2d", "C:\\J\xc3\xa4va\\\xe2\x82\xac\\\xe4\xb8\xad", true},
      {CP_UTF8, L"plain", "plain", true},
      {CP_UTF8, L"\U0001F600", "\xf0\x9f\x98\x80", true},
      {CP_UTF8, std::wstring(L"a") + wchar_t(0xD800) + L"b",
       "a\xef\xbf\xbd"
       "b",
       false},
      {1252, L"J\u00e4va \u20ac", "J\xe4va \x80", true},
      {1252, L"\u03a9mega", "?mega", false},
      {1252, L"\u0100", "?", false},  // best fit would give "A"
      {932, L"\u3042", "\x82\xa0", true},
      {CP_UTF8, L"", "", true},
  };
  for (const auto& c : cases) {
    bool clean = !c.clean;
    EXPECT_EQ(narrowIn(c.codePage, c.text, &clean), c.expected) << "code page " << c.codePage;
    EXPECT_EQ(clean, c.clean) << "code page " << c.codePage;
  }
}

}  // namespace
