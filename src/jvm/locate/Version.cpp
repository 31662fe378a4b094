#include "jvm/locate/Version.h"

#include "core/ConfigValue.h"

namespace shipkit::jvm {

VersionNumber parseVersion(std::string_view text) {
  VersionNumber out;
  constexpr std::string_view kSeparators = "._-+";
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of(kSeparators, start);
    if (end == std::string_view::npos) end = text.size();
    // The same decimal reading as atoi: leading digits, clamped to 32 bits, else 0.
    if (end > start) out.push_back(core::parseConfigInt(text.substr(start, end - start)));
    start = end + 1;
  }
  return out;
}

bool boundTest(const VersionNumber& bound, const VersionNumber& candidate, bool isMaximum, bool lenient) {
  for (std::size_t i = 0; i < bound.size(); ++i) {
    int32_t component = 0;
    if (i < candidate.size())
      component = candidate[i];
    else if (lenient)
      return true;
    if (component == bound[i]) continue;
    return isMaximum ? component < bound[i] : component > bound[i];
  }
  return true;
}

bool isPreRelease(std::string_view version) {
  return version.find("beta") != std::string_view::npos || version.find("ea") != std::string_view::npos ||
         version.find("rc") != std::string_view::npos;
}

VersionVerdict judgeVersion(std::string_view version, const VersionNumber& minimum,
                            const VersionNumber& maximum, bool allowPreRelease) {
  if (!allowPreRelease && isPreRelease(version)) return VersionVerdict::preRelease;
  const VersionNumber v = parseVersion(version);
  if (boundTest(minimum, v, false, false) && boundTest(maximum, v, true, false))
    return VersionVerdict::accepted;
  return VersionVerdict::outOfRange;
}

bool isVersionInRangeLenient(std::string_view version, const VersionNumber& minimum,
                             const VersionNumber& maximum) {
  const VersionNumber v = parseVersion(version);
  return boundTest(minimum, v, false, true) && boundTest(maximum, v, true, true);
}

bool isVersionGreater(std::string_view a, std::string_view b) {
  const VersionNumber va = parseVersion(a);
  const VersionNumber vb = parseVersion(b);
  for (std::size_t i = 0; i < va.size(); ++i) {
    if (i >= vb.size()) return true;
    if (va[i] != vb[i]) return va[i] > vb[i];
  }
  return false;
}

std::optional<std::string> versionFromFirstLine(std::string_view line) {
  if (line.size() > kVersionLineMax) line = line.substr(0, kVersionLineMax);
  constexpr std::string_view kJava = "java version \"";
  constexpr std::string_view kOpenJdk = "openjdk version \"";
  std::string_view rest;
  if (line.starts_with(kJava))
    rest = line.substr(kJava.size());
  else if (line.starts_with(kOpenJdk))
    rest = line.substr(kOpenJdk.size());
  else
    return std::nullopt;
  std::size_t quote = rest.find('"');
  if (quote != std::string_view::npos) return std::string(rest.substr(0, quote));
  // No closing quote: the version runs to the line end. Only the line end itself is cut:
  // a text-mode read has already made CR LF a single LF, and cutting a fixed two
  // characters would take the last digit with it.
  while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.remove_suffix(1);
  return std::string(rest);
}

}  // namespace shipkit::jvm
