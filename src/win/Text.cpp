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

std::string narrow(std::wstring_view text, bool* clean) {
  if (clean) *clean = true;
  if (text.empty()) return {};
  const UINT cp = fileApiCodePage();
  BOOL usedDefault = FALSE;
  int n = ::WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()), nullptr, 0, "?",
                                &usedDefault);
  if (n <= 0) {
    if (clean) *clean = false;
    return {};
  }
  std::string out(std::size_t(n), '\0');
  usedDefault = FALSE;
  ::WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()), out.data(), n, "?",
                        &usedDefault);
  if (clean) *clean = !usedDefault;
  return out;
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
