#pragma once
// Splitting the launcher's command line into words and reading its switches. The rules
// are the launcher's own (no backslash escapes, single and double quotes alike), so that
// installers started by older scripts keep their meaning.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace shipkit::core {

// Appends the words of `text` to `words`: blanks (spaces only) separate words, a quoted
// part (double or single quotes, the nearer wins) joins the text before it and ends its
// word at the closing quote; an unterminated quote takes the rest of the line.
void splitCommandLine(std::wstring_view text, std::vector<std::wstring>& words);

// Removes a log switch given directly after the program path; true when there was one.
bool takeLogSwitch(std::vector<std::wstring>& args);

// The "-temp DIR" switch: only the first occurrence counts. `tryDir` decides whether the
// directory is usable; an unusable one is removed with its switch, a switch without a
// directory is removed alone.
void takeTempSwitch(std::vector<std::wstring>& args, const std::function<bool(const std::wstring&)>& tryDir);

struct RunSwitches {
  bool quiet = false;
  bool messageBoxOff = false;
  bool console = false;  // "-console" or "-c": attach to or create a console
  bool splash = false;
  bool integrityCheck = true;
  bool manual = false;
};

// Reads the run switches from every argument (the program path included), case-sensitively.
RunSwitches parseRunSwitches(const std::vector<std::wstring>& args);

}  // namespace shipkit::core
