#pragma once
// Text rules of the VM option sources: the .vmoptions line syntax, word lists with their
// "-include-options" joining, preconfigured path entries, the default options file names
// and the joining of split module options. No system calls.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shipkit::jvm {

// The longest line an options file read returns; the rest of a longer line comes back as
// the next line.
inline constexpr std::size_t kOptionsLineMax = 29999;

struct RawOptionLine {
  std::string_view text;  // with its line feed, if it had one within the limit
  bool cut = false;       // the line's text went on beyond kOptionsLineMax bytes
};

// Splits file text (already read in text mode) the way successive line reads into a
// 30000-byte buffer do: each piece ends after a line feed or after kOptionsLineMax bytes.
std::vector<RawOptionLine> splitOptionLines(std::string_view text);

// The option a raw line holds: the text up to a NUL byte, trailing carriage returns and
// line feeds removed, then leading and trailing blanks (spaces only). None for an empty
// line or one whose first remaining character is "#".
std::optional<std::string_view> optionLineContent(std::string_view raw);

// Splits an already expanded word list as the command line is split, then joins a word that
// is exactly "-include-options" with the word after it by one blank (unless it is last).
std::vector<std::wstring> optionWords(std::wstring_view text);

// One entry of a preconfigured class or module path: a type letter, a flag character ("1"
// for required) and a value. `valid` is false for an entry shorter than the two letters.
struct PathEntry {
  std::string_view text;
  char type = 0;
  bool required = false;
  std::string_view value;
  bool valid = false;
};

// The non-empty ";"-separated entries of configuration text, in order.
std::vector<PathEntry> parsePathEntries(std::string_view text);

// The pieces of a ";"-separated list, empty pieces dropped.
std::vector<std::string_view> splitPathList(std::string_view text);

// `dir` and `name` joined by one backslash.
std::string joinPath(std::string_view dir, std::string_view name);

// The two names tried for an executable's own options file: its path with the last four
// characters (".exe") replaced by ".vmoptions", then its path with ".vmoptions" appended.
std::wstring optionsFileBesideExe(std::wstring_view exePath);
std::wstring optionsFileAppended(std::wstring_view exePath);

// Where an option from the list is exactly "--add-modules", "--add-opens", ... and another
// follows, the two become "option=value"; an option that ends the list stays alone.
void joinSplitModuleOptions(std::vector<std::string>& options);

}  // namespace shipkit::jvm
