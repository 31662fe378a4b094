#pragma once
// The diagnostic log: a UTF-8 file in the temporary root with one time-stamped line per
// step, deleted at normal exit unless the user asked for it or was shown its path.
// Formats follow the Microsoft runtime: "%s" takes a wide string, "%S" a narrow one.

#include <optional>
#include <string>

namespace shipkit::core {

void logLine(const wchar_t* format, ...);
void logError(const wchar_t* format, ...);

// Marks the log as requested by the command-line switch.
void setLogRequested();
bool logRequested();

// The log path, or none when no log file could be created; keeps the file after exit.
std::optional<std::wstring> getLogPath();

// Asks whether to open an Explorer window on the log (after the log switch).
void offerLogFolder();

}  // namespace shipkit::core
