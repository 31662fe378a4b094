#pragma once
// The decisions of the runtime download and of the runtime selection dialog, without
// Windows: attempt and pause figures, accepted HTTP answers, the pinned archive digest, the
// progress line and the composed selection text.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace shipkit::jre {

// How often and how patiently a runtime is fetched.
struct DownloadPolicy {
  int attempts = 3;              // transfer attempts
  int attemptPauseMs = 1000;     // pause after each failed attempt
  int lengthQueries = 20;        // Content-Length queries per attempt
  int queryPauseMs = 300;        // pause after each failed query
  int progressIntervalMs = 500;  // least time between two progress updates
};

// The policy with figures overridden by "attempts,attemptPauseMs,lengthQueries,queryPauseMs"
// (tests shorten the waits this way). Missing, empty or malformed fields keep their value;
// counts are at least 1, pauses at least 0.
DownloadPolicy parseDownloadPolicy(std::string_view overrides);

// Whether an HTTP status code is a successful answer whose body is the runtime archive.
bool httpStatusAccepted(std::uint32_t status);

// The SHA-256 the downloaded runtime archive must have (configuration entry 170).
using Sha256 = std::array<std::uint8_t, 32>;

struct RuntimeDigest {
  enum class State {
    Absent,     // no digest configured: the download is not verified
    Malformed,  // configured but not 64 hex digits: no download can be accepted
    Pinned,     // the archive must hash to `value`
  };
  State state = State::Absent;
  Sha256 value{};
};

// An empty text is absent; exactly 64 hex digits in either case are pinned; any other text
// (blanks, a "0x" prefix, a digit too many or too few) is malformed, never ignored.
RuntimeDigest parseRuntimeDigest(std::string_view text);

// Whether a downloaded archive with digest `actual` may be used: only a pinned digest that is
// equal; an absent pin is decided by the caller, a malformed one never matches.
bool digestAccepts(const RuntimeDigest& pin, const Sha256& actual);

// The digest as 64 lowercase hex digits.
std::string digestHex(const Sha256& digest);

// The progress line: `format` (a printf text with up to four floating conversions and "%%")
// filled with received MB, total MB, percent and bytes per millisecond. A format with any
// other conversion is shown as it is, so that a message text can never read stray arguments.
std::wstring progressText(std::wstring_view format, std::uint64_t received, std::uint64_t total,
                          std::uint64_t elapsedMs);
// The progress bar position 0-100 (single precision, truncated).
int progressPercent(std::uint64_t received, std::uint64_t total);

// A message holding one "%S" (and possibly "%%") with the argument in its place.
std::wstring formatWithArgument(std::wstring_view message, std::wstring_view argument);

// The selection dialog text: `base` followed by the version bounds in parentheses, each
// labelled, when set: " (min-label min, max-label max)".
std::wstring composeSelectionText(std::wstring_view base, std::wstring_view minimumLabel,
                                  std::wstring_view minimum, std::wstring_view maximumLabel,
                                  std::wstring_view maximum);

}  // namespace shipkit::jre
