#pragma once
// Choosing a Java runtime and loading its jvm.dll: a search over the configured sequence
// and its fixed frame of sources, or a location another step provides.

#include <string>

namespace shipkit::jvm {

// Where the runtime that passed its check last came from; selects the error message.
enum Origin : int {
  kOriginNone = 0,
  kOriginSearchPath = 1,
  kOriginLocation = 2,
  kOriginEnvironment = 3,
  kOriginRegistry = 4
};

// Loads a runtime's JVM library and resolves JNI_CreateJavaVM. Without a location the
// search runs; with one, it is a runtime directory or (locationIsJavaExe) a java.exe.
// Errors are shown only when `showErrors`; they never end the process.
bool LoadDLL(bool showErrors, const std::string* location, bool locationIsJavaExe);

// Prepares a runtime directory before it is checked (the provisioning step restores its
// pack200-packed class libraries). Installed once at start-up; without it, directories are
// checked as they are.
using RuntimeDirectoryPreparation = void (*)(const std::string& home);
void setRuntimeDirectoryPreparation(RuntimeDirectoryPreparation prepare);

// The first line of a location file (trailing CR/LF removed), or empty.
std::string firstLineOf(const std::wstring& file);

}  // namespace shipkit::jvm
