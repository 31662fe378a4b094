#pragma once
// Java version strings and version numbers: parsing, the bound test against a minimum and a
// maximum, the newer-than comparison and the first line of "java -version". No system calls.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shipkit::jvm {

// A version string split at "._-+" into integers: 1.8.0_201 gives 1, 8, 0, 201.
using VersionNumber = std::vector<int32_t>;

// Splits at every character of "._-+" (a run of separators counts as one, empty pieces are
// dropped) and reads each piece as a decimal number up to its first non-digit, so a piece
// without leading digits is 0 ("9-ea" gives 9, 0). Empty text gives an empty number.
VersionNumber parseVersion(std::string_view text);

// Compares the candidate with the bound over the bound's positions only. A minimum passes
// at the first greater component and fails at the first smaller one, a maximum the other
// way round; all equal passes, and so does an empty bound. Where the candidate runs out it
// passes at once when `lenient`, otherwise its missing components count as 0.
bool boundTest(const VersionNumber& bound, const VersionNumber& candidate, bool isMaximum, bool lenient);

// "beta", "ea" or "rc" anywhere in the text, case-sensitive: "1.8.0-leap" counts too.
bool isPreRelease(std::string_view version);

enum class VersionVerdict { accepted, preRelease, outOfRange };

// The strict test: the pre-release test unless `allowPreRelease`, then both bounds with
// missing components counted as 0.
VersionVerdict judgeVersion(std::string_view version, const VersionNumber& minimum,
                            const VersionNumber& maximum, bool allowPreRelease);

// Both bounds, passing where the candidate runs out first; no pre-release test. Used for
// registry key names such as "1.8" or "11".
bool isVersionInRangeLenient(std::string_view version, const VersionNumber& minimum,
                             const VersionNumber& maximum);

// True when `a` is strictly newer than `b`: an empty `a` never is, an equal prefix with
// more components is (1.8.0 > 1.8), equal versions are not.
bool isVersionGreater(std::string_view a, std::string_view b);

// The version in the first line of "java -version" output, as read by a text-mode line read
// of at most 99 characters. The line must begin with `java version "` or `openjdk version "`;
// the version runs up to the next double quote, or without one it is the rest of the line
// less its last two characters. Any other beginning gives none.
std::optional<std::string> versionFromFirstLine(std::string_view line);

// The longest first line the version query reads.
inline constexpr std::size_t kVersionLineMax = 99;

}  // namespace shipkit::jvm
