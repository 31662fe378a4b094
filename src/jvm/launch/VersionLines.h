#pragma once
// Choosing version-specific VM option lines: the runtime's feature number and the match of
// one line's condition against the chosen runtime. No system calls.

#include <string_view>

namespace shipkit::jvm {

// The first component of the version number, or the second when the first is 1 and a
// second exists (1.8.0_201 gives 8, 11.0.2 gives 11); -1 when the text has no components.
int featureNumber(std::string_view version);

// "*" matches any run of characters including none, "?" any one character, every other
// character itself, case-sensitively; the whole text must match.
bool matchesVersionPattern(std::string_view pattern, std::string_view text);

struct VersionCondition {
  enum class Kind { pattern, range, invalid };
  Kind kind = Kind::invalid;
  int min = 0;  // for a range
  int max = 0;
  bool matches = false;
};

// A condition beginning with "*" marks a pattern: the text after that "*" is matched
// against the whole version string ("*1.8*" is the pattern "1.8*"). Otherwise "min-max" split at the first
// "-", each part a decimal number and an empty part 0, matching min <= feature <= max; anything else never
// matches.
VersionCondition checkVersionCondition(std::string_view condition, std::string_view version, int feature);

}  // namespace shipkit::jvm
