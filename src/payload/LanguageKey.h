#pragma once
// The user's language key ("en", "de_CH", "no_NO_NY") derived from a Windows language id,
// which selects the localized message sets of the container.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace shipkit::payload {

inline constexpr std::wstring_view kFormatAsDefaultTrue = L"-Dsun.locale.formatasdefault=true";
inline constexpr std::wstring_view kFormatAsDefaultPrefix = L"-Dsun.locale.formatasdefault=";

// The key for a language id: an exact table match, else the first entry of its primary
// language (id & 0x3FF), else empty (the caller keeps "en").
std::string_view languageKeyFor(uint16_t languageId);

// Whether the arguments ask for the format locale: the last argument beginning with
// "-Dsun.locale.formatasdefault=" decides, and only "...=true" exactly sets it.
bool formatLocaleRequested(const std::vector<std::wstring>& arguments);

struct LanguageCodes {
  std::string language;  // first two characters of the key
  std::string country;   // characters four and five, only for a five-character key
};
LanguageCodes splitLanguageKey(std::string_view key);

}  // namespace shipkit::payload
