#pragma once
// Text conversions between the ANSI code page of the file functions and UTF-16.

#include <windows.h>

#include <string>
#include <string_view>

namespace shipkit::win {

// Byte-for-unit widening as the C runtime does in its default locale: every byte becomes
// the UTF-16 unit of the same value (bytes 0x80-0xFF read as Latin-1).
std::wstring widenBytes(std::string_view bytes);

// The code page of the file functions (ANSI, or OEM when the file APIs are set to OEM).
UINT fileApiCodePage();

// Wide to narrow in the file-API code page without best-fit mapping, "?" for anything
// unrepresentable; `clean` tells whether no default character was needed.
std::string narrow(std::wstring_view text, bool* clean = nullptr);
// The same in a given code page; UTF-8 and the other pages that take no default character
// convert without one (`clean` is false only for text they cannot hold, such as a lone
// surrogate in UTF-8).
std::string narrowIn(UINT codePage, std::wstring_view text, bool* clean = nullptr);

// Narrow (file-API code page) to wide.
std::wstring wide(std::string_view text);

std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);

std::wstring lastErrorText(DWORD error);

}  // namespace shipkit::win
