#include "win/Text.h"

#include "win/LateBound.h"

namespace shipkit::win {

HMODULE systemLibrary(const wchar_t* name) {
  if (HMODULE loaded = ::GetModuleHandleW(name)) return loaded;
  return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::wstring widenBytes(std::string_view bytes) {
  std::wstring out(bytes.size(), L'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<unsigned char>(bytes[i]);
  return out;
}

UINT fileApiCodePage() {
  return ::AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

namespace {

// Code pages for which WideCharToMultiByte refuses WC_NO_BEST_FIT_CHARS and a default
// character (ERROR_INVALID_PARAMETER): UTF-7, UTF-8, symbol, the ISO-2022 and ISCII pages.
bool refusesDefaultChar(UINT cp) {
  return cp == CP_UTF7 || cp == CP_UTF8 || cp == 42 || (cp >= 50220 && cp <= 50229) || cp == 52936 ||
         cp == 54936 || (cp >= 57002 && cp <= 57011);
}

std::string convert(UINT cp, DWORD flags, std::wstring_view text, const char* defaultChar,
                    BOOL* usedDefault) {
  int n =
      ::WideCharToMultiByte(cp, flags, text.data(), int(text.size()), nullptr, 0, defaultChar, usedDefault);
  if (n <= 0) return {};
  std::string out(std::size_t(n), '\0');
  n = ::WideCharToMultiByte(cp, flags, text.data(), int(text.size()), out.data(), n, defaultChar,
                            usedDefault);
  out.resize(n > 0 ? std::size_t(n) : 0);
  return out;
}

}  // namespace

std::string narrowIn(UINT cp, std::wstring_view text, bool* clean) {
  if (clean) *clean = true;
  if (text.empty()) return {};
  // The symbolic pages resolve to the number they stand for, so that the rule below sees
  // a UTF-8 ANSI code page (a per-user choice on Windows 10 and later) as UTF-8.
  if (cp == CP_ACP) cp = ::GetACP();
  if (cp == CP_OEMCP) cp = ::GetOEMCP();
  std::string out;
  if (refusesDefaultChar(cp)) {
    // Every character has a UTF-8 form; only a lone surrogate cannot be converted exactly.
    const DWORD strict = cp == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0;
    out = convert(cp, strict, text, nullptr, nullptr);
    if (out.empty()) {
      if (clean) *clean = false;
      out = convert(cp, 0, text, nullptr, nullptr);
    }
    return out;
  }
  BOOL usedDefault = FALSE;
  out = convert(cp, WC_NO_BEST_FIT_CHARS, text, "?", &usedDefault);
  if (clean) *clean = !out.empty() && !usedDefault;
  return out;
}

std::string narrow(std::wstring_view text, bool* clean) {
  return narrowIn(fileApiCodePage(), text, clean);
}

std::wstring wide(std::string_view text) {
  if (text.empty()) return {};
  const UINT cp = fileApiCodePage();
  int n = ::MultiByteToWideChar(cp, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring out(std::size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(cp, 0, text.data(), int(text.size()), out.data(), n);
  return out;
}

std::string toUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(std::size_t(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring fromUtf8(std::string_view text) {
  if (text.empty()) return {};
  int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring out(std::size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
  return out;
}

std::wstring lastErrorText(DWORD error) {
  return std::to_wstring(error);
}

}  // namespace shipkit::win
