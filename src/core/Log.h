#pragma once
// The diagnostic log: a UTF-8 file in the temporary root with one time-stamped line per
// step, deleted at normal exit unless the user asked for it or was shown its path.
// Formats follow the Microsoft runtime: "%s" takes a wide string, "%S" a narrow one.

#include <optional>
#include <string>

namespace shipkit::core {

void logLine(const wchar_t* format, ...);
void logError(const wchar_t* format, ...);

// Every entry opens the file for appending and closes it again, so that between entries the
// file is complete and held by nobody. While a LogBatch exists, the entries share one open
// stream instead: a burst of entries (one per extracted file) then costs one open, not one
// each. What is written is the same and reaches the file at once.
class LogBatch {
 public:
  LogBatch();
  ~LogBatch();
  LogBatch(const LogBatch&) = delete;
  LogBatch& operator=(const LogBatch&) = delete;
};

// Marks the log as requested by the command-line switch.
void setLogRequested();
bool logRequested();

// The log path, or none when no log file could be created; keeps the file after exit.
std::optional<std::wstring> getLogPath();

// Asks whether to open an Explorer window on the log (after the log switch).
void offerLogFolder();

}  // namespace shipkit::core
