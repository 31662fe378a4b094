#pragma once
// Pieces of the diagnostic log that do not touch the system: the time prefix, the file
// name numbering and the on-disk encoding (UTF-8, text mode line ends).

#include <cstdint>
#include <string>
#include <string_view>

namespace shipkit::core {

inline constexpr int kMaxLogNumber = 1000;

// "[s:ms] " for the milliseconds elapsed since the log started.
std::wstring logPrefix(int64_t elapsedMs);

// "<dir>skt_nlog_<n>.log"; `dir` already ends with a separator.
std::wstring logFileName(std::wstring_view dir, int n);

// The log directory from the temporary root: "c:\" when there is none, otherwise the root
// with a trailing backslash unless it already ends in "\" or "/".
std::wstring logDirectory(std::wstring_view tempRoot);

// UTF-16 (or UTF-32 where wchar_t is wider) to UTF-8, with every "\n" written as "\r\n" as a
// text-mode stream does. Unpaired surrogates become U+FFFD.
std::string toUtf8TextMode(std::wstring_view text);

}  // namespace shipkit::core
