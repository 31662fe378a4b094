#pragma once
// The launcher's own paths, the temporary root, the extraction directory and its removal.

#include <string>
#include <string_view>

#include "core/PathRules.h"

namespace shipkit::core {

// The module path in its long form, doubled backslashes collapsed.
const std::wstring& launcherLongPath();
// A narrow form of the module path that the ANSI code page represents and that ends in
// ".exe" (the long form, else a short form); empty when no such form exists.
const std::string& launcherPath();
// The directory of launcherPath() with its trailing backslash.
const std::string& launcherDir();
// The directory of the long path with its trailing backslash.
const std::wstring& launcherDirW();
// The narrow directory widened through the file-API code page.
std::wstring launcherDirWidened();

// Relative paths are prefixed with the launcher directory (the widened narrow form when
// `fromNarrowDir`), made full, lower-cased (A-Z) unless `keepCase`, doubled backslashes
// collapsed.
std::wstring resolvePath(std::wstring_view path, bool fromNarrowDir, bool keepCase);
std::string resolvePath(std::string_view path, bool keepCase);

bool exists(const std::wstring& path);
bool exists(const std::string& path);

// The manual temporary directory or the search result; the narrow search ends with fatal
// message 1015 when nothing is usable, the wide one only when `fatal`.
std::string tempRoot();
std::wstring tempRootW(bool fatal);
// Set when the strict pass of a search found nothing.
bool perUserFallback();

// The "-temp" directory: usable when both its wide and a clean narrow form pass the write
// probe; then both replace the search results for the rest of the run.
bool setManualTempDir(const std::wstring& dir);
const std::string& manualTempDirNarrow();

// A new unique name in the temporary root (GetTempFileName creates the file).
std::string tempFileName();

// Creates the extraction directory "<temp file name>_dir<seconds>" (ten attempts, then
// fatal message 1009 "7") and records it in the run state.
void createExtractionDir();

// Deletes the files of `dir`; subdirectories are emptied one level further when `recurse`
// and removed. Nothing happens for an empty path or one beginning with ".".
void emptyDir(const std::string& dir, bool recurse);

}  // namespace shipkit::core
