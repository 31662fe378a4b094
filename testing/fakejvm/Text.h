// Conversions between the text forms that meet in the fake JVM: Java strings (UTF-16),
// JNI's modified UTF-8, standard UTF-8 (JSON) and the ANSI bytes of option strings.
#pragma once

#include <string>
#include <string_view>

namespace fakejvm {

// Standard UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view text);
bool hasUnpairedSurrogate(std::u16string_view text);

// Standard UTF-8 (as JSON strings are) to UTF-16; a malformed sequence becomes U+FFFD.
std::u16string utf16FromUtf8(std::string_view text);

// Modified UTF-8 as JNI defines it: every UTF-16 unit on its own, U+0000 as C0 80,
// surrogates as three bytes each, no four-byte forms.
std::string modifiedUtf8FromUtf16(std::u16string_view text);

// The reverse; a byte that does not start a well-formed sequence is taken as the Latin-1
// character of that value (which is also what ANSI text in code page 1252 mostly means),
// and *wellFormed is cleared.
std::u16string utf16FromModifiedUtf8(std::string_view text, bool* wellFormed);

}  // namespace fakejvm
