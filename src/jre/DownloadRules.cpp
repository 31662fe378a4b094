#include "jre/DownloadRules.h"

#include <cwchar>
#include <vector>

namespace shipkit::jre {

namespace {

// A non-negative decimal field, or -1 when it is empty or not a number.
long long fieldValue(std::string_view field) {
  if (field.empty() || field.size() > 9) return -1;
  long long value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

DownloadPolicy parseDownloadPolicy(std::string_view overrides) {
  DownloadPolicy policy;
  int* fields[] = {&policy.attempts, &policy.attemptPauseMs, &policy.lengthQueries, &policy.queryPauseMs};
  const bool isCount[] = {true, false, true, false};
  for (std::size_t i = 0; i < 4 && !overrides.empty(); ++i) {
    std::size_t comma = overrides.find(',');
    long long value = fieldValue(overrides.substr(0, comma));
    if (value >= (isCount[i] ? 1 : 0)) *fields[i] = int(value);
    if (comma == std::string_view::npos) break;
    overrides.remove_prefix(comma + 1);
  }
  return policy;
}

bool httpStatusAccepted(std::uint32_t status) {
  return status >= 200 && status <= 299;
}

RuntimeDigest parseRuntimeDigest(std::string_view text) {
  RuntimeDigest pin;
  if (text.empty()) return pin;
  pin.state = RuntimeDigest::State::Malformed;
  if (text.size() != 2 * pin.value.size()) return pin;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    int nibble = c >= '0' && c <= '9'   ? c - '0'
                 : c >= 'a' && c <= 'f' ? c - 'a' + 10
                 : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                        : -1;
    if (nibble < 0) return pin;
    pin.value[i / 2] = std::uint8_t(pin.value[i / 2] << 4 | nibble);
  }
  pin.state = RuntimeDigest::State::Pinned;
  return pin;
}

bool digestAccepts(const RuntimeDigest& pin, const Sha256& actual) {
  return pin.state == RuntimeDigest::State::Pinned && pin.value == actual;
}

std::string digestHex(const Sha256& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::wstring progressText(std::wstring_view format, std::uint64_t received, std::uint64_t total,
                          std::uint64_t elapsedMs) {
  // Only flags, width, precision and a floating conversion are allowed, four at most.
  int conversions = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%') continue;
    if (++i >= format.size()) return std::wstring(format);
    if (format[i] == L'%') continue;
    while (i < format.size() && std::wcschr(L"-+ #0123456789.", format[i]) && format[i] != L'\0') ++i;
    if (i >= format.size() || !std::wcschr(L"fFeEgG", format[i]) || format[i] == L'\0')
      return std::wstring(format);
    if (++conversions > 4) return std::wstring(format);
  }
  const double mb = 1048576.0;
  double percent = total ? double(received) * 100.0 / double(total) : 0.0;
  double rate = double(received) / double(elapsedMs ? elapsedMs : 1);
  std::wstring pattern(format);
  std::vector<wchar_t> out(pattern.size() + 4 * 330 + 1);
  int n = std::swprintf(out.data(), out.size(), pattern.c_str(), double(received) / mb, double(total) / mb,
                        percent, rate);
  return n < 0 ? std::wstring(format) : std::wstring(out.data(), std::size_t(n));
}

int progressPercent(std::uint64_t received, std::uint64_t total) {
  if (total == 0) return 0;
  return int(float(received) / float(total) * 100.0f);
}

std::wstring formatWithArgument(std::wstring_view message, std::wstring_view argument) {
  std::wstring out;
  bool used = false;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message[i] == L'%' && i + 1 < message.size()) {
      if (message[i + 1] == L'%') {
        out += L'%';
        ++i;
        continue;
      }
      if ((message[i + 1] == L'S' || message[i + 1] == L's') && !used) {
        out += argument;
        used = true;
        ++i;
        continue;
      }
    }
    out += message[i];
  }
  return out;
}

std::wstring composeSelectionText(std::wstring_view base, std::wstring_view minimumLabel,
                                  std::wstring_view minimum, std::wstring_view maximumLabel,
                                  std::wstring_view maximum) {
  std::wstring text(base);
  bool opened = false;
  if (!minimum.empty()) {
    text.append(L" (").append(minimumLabel).append(L" ").append(minimum);
    opened = true;
  }
  if (!maximum.empty()) {
    text.append(opened ? L", " : L" (").append(maximumLabel).append(L" ").append(maximum);
    opened = true;
  }
  if (opened) text += L')';
  return text;
}

}  // namespace shipkit::jre
