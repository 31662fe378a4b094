#include "win/Environment.h"

#include <cstdlib>

namespace shipkit::win {

std::optional<std::wstring> environmentVariable(const wchar_t* name) {
  std::wstring value(256, L'\0');
  for (;;) {
    ::SetLastError(0);
    DWORD n = ::GetEnvironmentVariableW(name, value.data(), DWORD(value.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::wstring();
    }
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);  // n counts the terminator when the buffer was too small
  }
}

DWORD setEnvironmentVariable(const wchar_t* name, const std::wstring* value) {
  const BOOL ok = ::SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
  const DWORD error = ok ? 0 : ::GetLastError();
  // An empty value removes the variable from the C runtime's copy, as there.
  _wputenv_s(name, value ? value->c_str() : L"");
  return error;
}

}  // namespace shipkit::win
