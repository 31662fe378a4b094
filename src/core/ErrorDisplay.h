#pragma once
// The one place through which errors are shown and fatal errors end the process.

#include <string>
#include <string_view>

namespace shipkit::core {

// Shows a text as an error: a message box in message-box mode, otherwise the console or
// standard error; the log path is appended when a log exists (which keeps the log).
void showError(std::wstring_view text);

// The message text (message table, else configuration entry) with the first "{0}"
// replaced by the argument; later "{0}" stay.
std::wstring formatMessage(int id, const std::wstring* argument = nullptr);
void showMessage(int id, const std::wstring* argument = nullptr);

// Runs the exit cleanup, empties and removes the extraction directory (unless in a language
// restart) and ends the process at once: no threads joined, no exit handlers.
[[noreturn]] void fatalExit(int code);
[[noreturn]] void fatalText(std::wstring_view text);
[[noreturn]] void fatalMessage(int id);
[[noreturn]] void fatalMessage(int id, std::wstring_view argument);
[[noreturn]] void fatalMessage(int id, std::string_view narrowArgument);

// The quiet-mode writer to standard output.
void writeStdout(std::string_view text);

// A hook that closes the splash screen before an error is shown; set when a splash exists.
void setSplashCloser(void (*closer)());
// A hook the fatal-exit path runs before it ends the process (the start markers this run set
// are cleared there until the Java side takes them over).
void setExitCleanup(void (*cleanup)());

}  // namespace shipkit::core
