#pragma once
// Variable expansion with the launcher's own values and the process environment.

#include <string>

namespace shipkit::jvm {

// `ansiForm`: the launcher directory (and system temporary directory) in their ANSI form
// widened, instead of the UTF-16 long forms.
std::wstring expandWide(std::wstring text, bool ansiForm);
std::string expandNarrow(std::string text);

}  // namespace shipkit::jvm
