#pragma once
// Text conversions between the manifest (UTF-8 JSON), the container (ANSI bytes and
// UTF-16LE) and the inspector's output (quoted, escaped UTF-8).

#include <optional>
#include <string>
#include <string_view>

namespace shipkit::pack {

// Decodes strict UTF-8 (no overlong forms, no surrogates); nullopt when malformed.
std::optional<std::u32string> decodeUtf8(std::string_view in);

// One byte per code point; fails when a code point is above 0xFF (returned in `bad`).
std::optional<std::string> utf8ToLatin1(std::string_view in, char32_t* bad = nullptr);

std::optional<std::u16string> utf8ToUtf16(std::string_view in);

// Double-quoted, with '"', '\\', control bytes and bytes >= 0x7F escaped (\n \r \t \xHH):
// configuration values are bytes of an unknown code page.
std::string quoteBytes(std::string_view bytes);

// Double-quoted UTF-8 rendering of UTF-16 text; control characters as above, unpaired
// surrogates as \uHHHH.
std::string quoteUtf16(std::u16string_view text);

}  // namespace shipkit::pack
