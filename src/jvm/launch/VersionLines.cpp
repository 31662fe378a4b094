#include "jvm/launch/VersionLines.h"

#include "core/ConfigValue.h"
#include "jvm/locate/Version.h"

namespace shipkit::jvm {

int featureNumber(std::string_view version) {
  const VersionNumber number = parseVersion(version);
  if (number.empty()) return -1;
  if (number[0] == 1 && number.size() >= 2) return number[1];
  return number[0];
}

bool matchesVersionPattern(std::string_view pattern, std::string_view text) {
  // Greedy matching that backs up only to the last "*" seen: at most pattern length times
  // text length steps and no recursion, whatever the pattern.
  std::size_t p = 0, t = 0;
  std::size_t starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starT = t;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

VersionCondition checkVersionCondition(std::string_view condition, std::string_view version, int feature) {
  VersionCondition result;
  if (!condition.empty() && condition[0] == '*') {
    result.kind = VersionCondition::Kind::pattern;
    result.matches = matchesVersionPattern(condition.substr(1), version);
    return result;
  }
  std::size_t dash = condition.find('-');
  if (dash == std::string_view::npos) return result;
  result.kind = VersionCondition::Kind::range;
  result.min = core::parseConfigInt(condition.substr(0, dash));
  result.max = core::parseConfigInt(condition.substr(dash + 1));
  result.matches = result.min <= feature && feature <= result.max;
  return result;
}

}  // namespace shipkit::jvm
