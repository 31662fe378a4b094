#pragma once
// Decisions of the deletion routine that need no system calls: where the tree of a path
// begins, which components lie between that top and the path, and which reparse points
// are links. The Win32 side (core/TreeDeletion) opens and checks what these name.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace shipkit::core {

// What became of an entry asked to go. kMissing: it was not there (any more). kResists: it
// exists and could not be removed (in use, not empty, no access). kRefused: it lies behind a
// link inside its tree; it is dropped like a removed one, never retried and never scheduled
// at reboot.
enum class Removal { kRemoved, kMissing, kResists, kRefused };
enum class EntryKind { kFile, kDirectory };

constexpr std::uint32_t kAttributeDirectory = 0x10;    // FILE_ATTRIBUTE_DIRECTORY
constexpr std::uint32_t kAttributeReparse = 0x400;     // FILE_ATTRIBUTE_REPARSE_POINT
constexpr std::uint32_t kTagMountPoint = 0xA0000003u;  // IO_REPARSE_TAG_MOUNT_POINT (junction)
constexpr std::uint32_t kTagSymlink = 0xA000000Cu;     // IO_REPARSE_TAG_SYMLINK

// A junction or a symbolic link. A reparse point without a readable tag (0) counts as a
// link too: nothing says where it leads. Other tags (cloud files, deduplicated files) are
// ordinary files and directories.
bool isLinkReparse(std::uint32_t attributes, std::uint32_t tag);

// The length of the root of a full path: "C:\" (3), "\\server\share\", "\\?\C:\",
// "\\?\UNC\server\share\"; 0 when the path has no root of these forms.
std::size_t rootLength(std::wstring_view path);

// The path without trailing backslashes (a root keeps its own).
std::wstring trimSeparators(std::wstring_view path);

// A directory name of the extraction directory's form: begins with "jwr" and holds
// ".tmp_dir" (ASCII case ignored).
bool isExtractionDirName(std::wstring_view name);

// Where the tree of a full path begins, as a length of `path`: the shortest prefix ending at
// a component boundary that is one of `trees` (full paths, compared with ASCII case ignored)
// or whose last component has the extraction directory's form; the whole path when none.
std::size_t treeTopLength(std::wstring_view path, const std::vector<std::wstring>& trees);

// The lengths of the prefixes that name the directories from the tree's top down to the
// path's parent (the top first); empty when the path is its own top.
std::vector<std::size_t> directoriesBetween(std::wstring_view path, std::size_t topLength);

// True when `child` names an entry directly inside `parent` (ASCII case ignored); both are
// paths as the system reports them for open handles.
bool isDirectChild(std::wstring_view parent, std::wstring_view child);

// True when the last components of both paths are equal (ASCII case ignored).
bool sameLastName(std::wstring_view a, std::wstring_view b);

}  // namespace shipkit::core
