#include "pack/Text.h"

#include <cstdint>
#include <cstdio>

namespace shipkit::pack {

std::optional<std::u32string> decodeUtf8(std::string_view in) {
  static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  std::u32string out;
  for (std::size_t i = 0; i < in.size();) {
    auto lead = static_cast<unsigned char>(in[i]);
    std::size_t extra;
    char32_t cp;
    if (lead < 0x80) {
      extra = 0, cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07;
    } else {
      return std::nullopt;
    }
    if (in.size() - i <= extra) return std::nullopt;
    for (std::size_t k = 1; k <= extra; ++k) {
      auto next = static_cast<unsigned char>(in[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    out.push_back(cp);
    i += extra + 1;
  }
  return out;
}

std::optional<std::string> utf8ToLatin1(std::string_view in, char32_t* bad) {
  auto cps = decodeUtf8(in);
  if (!cps) return std::nullopt;
  std::string out;
  for (char32_t cp : *cps) {
    if (cp > 0xFF) {
      if (bad) *bad = cp;
      return std::nullopt;
    }
    out.push_back(static_cast<char>(cp));
  }
  return out;
}

std::optional<std::u16string> utf8ToUtf16(std::string_view in) {
  auto cps = decodeUtf8(in);
  if (!cps) return std::nullopt;
  std::u16string out;
  for (char32_t cp : *cps) {
    if (cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
    } else {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
  }
  return out;
}

namespace {

// Escapes ASCII specials and controls; returns false for characters shown as they are.
bool appendEscape(std::string& out, char32_t c) {
  char buf[8];
  switch (c) {
    case '"':
      out += "\\\"";
      return true;
    case '\\':
      out += "\\\\";
      return true;
    case '\n':
      out += "\\n";
      return true;
    case '\r':
      out += "\\r";
      return true;
    case '\t':
      out += "\\t";
      return true;
    default:
      break;
  }
  if (c >= 0x20 && c != 0x7F) return false;
  std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(c));
  out += buf;
  return true;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string quoteBytes(std::string_view bytes) {
  std::string out = "\"";
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else if (!appendEscape(out, c)) {
      out.push_back(ch);
    }
  }
  return out + "\"";
}

std::string quoteUtf16(std::u16string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    bool high = c >= 0xD800 && c <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
      continue;
    }
    if (!appendEscape(out, c)) appendUtf8(out, c);
  }
  return out + "\"";
}

}  // namespace shipkit::pack
