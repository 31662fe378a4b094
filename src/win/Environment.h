#pragma once
// Environment variables through the wide API, so that values with characters outside the
// ANSI code page come back exactly as they were.

#include <windows.h>

#include <optional>
#include <string>

namespace shipkit::win {

// The variable's value; none when it is not set (an empty value is a value).
std::optional<std::wstring> environmentVariable(const wchar_t* name);

// Sets (or with null removes) the variable in the process environment and in the C runtime's
// copy of it, which the C runtime hands to programs it starts. Returns the error of the
// process-environment call, 0 on success.
DWORD setEnvironmentVariable(const wchar_t* name, const std::wstring* value);

}  // namespace shipkit::win
