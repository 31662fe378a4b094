// The download figures, accepted answers, progress line and selection dialog text.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "jre/DownloadRules.h"

using namespace shipkit::jre;

TEST(DownloadRules, PolicyOverrides) {
  struct Row {
    const char* overrides;
    int attempts, attemptPause, queries, queryPause;
  } rows[] = {
      {"", 3, 1000, 20, 300},           {"3,0,20,0", 3, 0, 20, 0},
      {"1", 1, 1000, 20, 300},          {"2,5", 2, 5, 20, 300},
      {",,7", 3, 1000, 7, 300},         {"0,0,0,0", 3, 0, 20, 0},  // counts are at least 1, pauses may be 0
      {"-1,x,2a, 9", 3, 1000, 20, 300}, {"5,10,15,20,99", 5, 10, 15, 20},
      {"9999999999,1,1,1", 3, 1, 1, 1},  // too long for a field
      {",,,", 3, 1000, 20, 300},
  };
  for (const auto& r : rows) {
    DownloadPolicy p = parseDownloadPolicy(r.overrides);
    EXPECT_EQ(p.attempts, r.attempts) << r.overrides;
    EXPECT_EQ(p.attemptPauseMs, r.attemptPause) << r.overrides;
    EXPECT_EQ(p.lengthQueries, r.queries) << r.overrides;
    EXPECT_EQ(p.queryPauseMs, r.queryPause) << r.overrides;
    EXPECT_EQ(p.progressIntervalMs, 500);
  }
}

TEST(DownloadRules, HttpStatusAccepted) {
  struct Row {
    std::uint32_t status;
    bool accepted;
  } rows[] = {{200, true},  {204, true},  {299, true},  {199, false}, {300, false},
              {302, false}, {404, false}, {500, false}, {0, false},   {0xFFFFFFFFu, false}};
  for (const auto& r : rows) EXPECT_EQ(httpStatusAccepted(r.status), r.accepted) << r.status;
}

TEST(DownloadRules, ProgressText) {
  const wchar_t* kFormat = L"%.2f MB of %.2f MB (%.1f%%) at %.1f kb/s";
  struct Row {
    const wchar_t* format;
    std::uint64_t received, total, elapsed;
    const wchar_t* text;
  } rows[] = {
      {kFormat, 1048576, 4194304, 1000, L"1.00 MB of 4.00 MB (25.0%) at 1048.6 kb/s"},
      {kFormat, 4194304, 4194304, 2048, L"4.00 MB of 4.00 MB (100.0%) at 2048.0 kb/s"},
      {kFormat, 16384, 3000000, 0, L"0.02 MB of 2.86 MB (0.5%) at 16384.0 kb/s"},  // no time passed yet
      {L"%.0f%%", 5, 10, 1, L"0%"},
      // Anything but floating conversions is shown as written: no stray argument is read.
      {L"%s of %d", 1, 2, 3, L"%s of %d"},
      {L"%n", 1, 2, 3, L"%n"},
      {L"%f %f %f %f %f", 1, 2, 3, L"%f %f %f %f %f"},
      {L"trailing %", 1, 2, 3, L"trailing %"},
      {L"", 1, 2, 3, L""},
  };
  for (const auto& r : rows)
    EXPECT_EQ(progressText(r.format, r.received, r.total, r.elapsed), r.text) << r.format;
}

TEST(DownloadRules, ProgressPercent) {
  struct Row {
    std::uint64_t received, total;
    int percent;
  } rows[] = {{0, 100, 0},     {1, 3, 33}, {2, 3, 66},
              {100, 100, 100}, {5, 0, 0},  {4294967295u, 4294967295u, 100}};
  for (const auto& r : rows) EXPECT_EQ(progressPercent(r.received, r.total), r.percent);
}

TEST(DownloadRules, SelectionText) {
  struct Row {
    const wchar_t* message;
    const wchar_t* minimum;
    const wchar_t* maximum;
    const wchar_t* text;
  } rows[] = {
      {L"Needs a %S-bit Java.", L"", L"", L"Needs a 64-bit Java."},
      {L"Needs a %S-bit Java.", L"1.8", L"", L"Needs a 64-bit Java. (minimum version: 1.8)"},
      {L"Needs a %S-bit Java.", L"", L"17", L"Needs a 64-bit Java. (maximum version: 17)"},
      {L"Java %S", L"11", L"17.0.2", L"Java 64 (minimum version: 11, maximum version: 17.0.2)"},
      {L"100%% %S, not %S", L"", L"", L"100% 64, not %S"},  // one argument only
      {L"no placeholder", L"", L"", L"no placeholder"},
      {L"%", L"", L"", L"%"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(composeSelectionText(formatWithArgument(r.message, L"64"), L"minimum version:", r.minimum,
                                   L"maximum version:", r.maximum),
              r.text)
        << r.message;
}

TEST(DownloadRules, RuntimeDigestPin) {
  using State = RuntimeDigest::State;
  const std::string lower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  std::string upper = lower;
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  std::string mixed = lower;
  mixed[0] = 'B', mixed[63] = 'D';
  struct Row {
    std::string text;
    State state;
  } rows[] = {
      {"", State::Absent},
      {lower, State::Pinned},
      {upper, State::Pinned},
      {mixed, State::Pinned},
      {lower.substr(1), State::Malformed},            // 63 digits
      {lower + "0", State::Malformed},                // 65 digits
      {" " + lower.substr(1), State::Malformed},      // a blank in place of a digit
      {lower + "\n", State::Malformed},               // a line end after it
      {"0x" + lower.substr(2), State::Malformed},     // a C prefix
      {lower.substr(0, 63) + "g", State::Malformed},  // not a hex digit
      {lower.substr(0, 62) + "\xc3\xa4", State::Malformed},
      {std::string(64, '0'), State::Pinned},
      {"-", State::Malformed},
  };
  for (const auto& r : rows) {
    RuntimeDigest pin = parseRuntimeDigest(r.text);
    EXPECT_EQ(int(pin.state), int(r.state)) << r.text;
    if (r.state == State::Pinned && r.text != std::string(64, '0')) {
      EXPECT_EQ(digestHex(pin.value), lower) << r.text;
    }
  }
}
