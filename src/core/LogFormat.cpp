#include "core/LogFormat.h"

namespace shipkit::core {

std::wstring logPrefix(int64_t elapsedMs) {
  return L"[" + std::to_wstring(elapsedMs / 1000) + L":" + std::to_wstring(elapsedMs % 1000) + L"] ";
}

std::wstring logFileName(std::wstring_view dir, int n) {
  return std::wstring(dir) + L"skt_nlog_" + std::to_wstring(n) + L".log";
}

std::wstring logDirectory(std::wstring_view tempRoot) {
  if (tempRoot.empty()) return L"c:\\";
  std::wstring dir(tempRoot);
  if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
  return dir;
}

namespace {
void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}
}  // namespace

std::string toUtf8TextMode(std::wstring_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = static_cast<uint32_t>(text[i]);
    if (cp == L'\n') {
      out += "\r\n";
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
      uint32_t low = static_cast<uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    appendUtf8(out, cp);
  }
  return out;
}

}  // namespace shipkit::core
