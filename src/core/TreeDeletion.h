#pragma once
// The one routine that deletes files and directories of the launcher's trees (the
// extraction directory, the shipped runtime, the deletion list's entries) without ever
// passing through a link inside a tree: each directory from the tree's top down to the
// entry is opened without following links, checked and held open (so that it cannot be
// renamed and replaced meanwhile), and the entry is deleted through its own handle. An
// entry behind a junction or symbolic link is refused (logged); a link that is itself the
// entry is removed as a link, never its target.

#include <cstddef>
#include <string>

#include "core/DeletionRules.h"

namespace shipkit::core {

// The path made full (relative to the current directory), without trailing backslashes.
std::wstring fullPathOf(const std::wstring& path);

// Deletes the file or empty directory `path` (a full path) whose tree begins with its first
// `topLength` characters. A file entry that is a directory, or a directory entry that is a
// file, resists as DeleteFile and RemoveDirectory would.
Removal removeEntry(const std::wstring& path, std::size_t topLength, EntryKind kind);

// MOVEFILE_DELAY_UNTIL_REBOOT for `path` after the same checks; false when refused or when
// the system did not schedule it.
bool scheduleRemovalAtReboot(const std::wstring& path, std::size_t topLength);

// Removes what `dir` (a full path) holds, `levels` levels of subdirectories deep: a
// subdirectory is emptied one level further while levels remain, then removed. Links are
// removed as links, never entered. With `log`, every step is logged ("emptying %s",
// "attempting to remove %s (%d)", "attempting to delete %s"). What resists stays.
void emptyTree(const std::wstring& dir, std::size_t topLength, int levels, bool log);

// Removes `dir` (relative or full) and everything below it; what resists stays. Its tree
// begins at the outermost extraction directory on its path, else at `dir` itself.
void removeTree(const std::wstring& dir);

}  // namespace shipkit::core
