#include "core/TreeDeletion.h"

#include <windows.h>

#include <climits>
#include <vector>

#include "core/DeletionRules.h"
#include "core/Log.h"
#include "win/Unique.h"

namespace shipkit::core {

namespace {

// Opens the entry a path names, not what a link there points to. Under Wine 8 the flag is
// ignored (the open follows the link); the checks in `judge` see that.
constexpr DWORD kNoFollow = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

struct Opened {
  win::UniqueFile handle;
  DWORD attributes = 0;
  DWORD tag = 0;
  std::wstring finalPath;  // where the handle really is; empty when unknown
};

// A path from a call that writes it into a buffer and returns its length, or the size it needs
// when the buffer is too small (0 on failure); empty on failure.
template <typename Call>
std::wstring pathFrom(Call call) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD n = call(buffer.data(), DWORD(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(n + 1, L'\0');
  }
  return {};
}

std::wstring finalPathOf(HANDLE handle) {
  return pathFrom([&](wchar_t* buffer, DWORD size) {
    return ::GetFinalPathNameByHandleW(handle, buffer, size, FILE_NAME_NORMALIZED);
  });
}

bool open(const std::wstring& path, DWORD access, DWORD share, Opened& out) {
  out.handle.reset(
      ::CreateFileW(path.c_str(), access | SYNCHRONIZE, share, nullptr, OPEN_EXISTING, kNoFollow, nullptr));
  if (!out.handle) return false;
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!::GetFileInformationByHandleEx(out.handle.get(), FileAttributeTagInfo, &info, sizeof info)) {
    out.handle.reset();
    return false;
  }
  out.attributes = info.FileAttributes;
  out.tag = info.ReparseTag;
  out.finalPath = finalPathOf(out.handle.get());
  return true;
}

// A directory held open without FILE_SHARE_DELETE cannot be renamed or removed, so it cannot
// be swapped for a link while the entries below it are handled.
bool holdDirectory(const std::wstring& path, Opened& out) {
  return open(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, out);
}

std::wstring longPathOf(const std::wstring& path) {
  return pathFrom([&](wchar_t* buffer, DWORD size) { return ::GetLongPathNameW(path.c_str(), buffer, size); });
}

enum class Reached { kItself, kLinkItself, kThroughLink };

// What an open handle for `path` reached. A link opened as itself shows its tag. A handle
// that lies elsewhere than `path` names (another parent, another name), or that lacks the
// reparse attribute the path shows, reached a link's target: systems that cannot open a
// link itself (Wine 8 follows every link) give such handles.
Reached judge(const Opened& opened, const std::wstring& path, const std::wstring& parentFinal) {
  if (isLinkReparse(opened.attributes, opened.tag)) return Reached::kLinkItself;
  const DWORD seen = ::GetFileAttributesW(path.c_str());
  if (seen != INVALID_FILE_ATTRIBUTES && (seen & FILE_ATTRIBUTE_REPARSE_POINT) &&
      !(opened.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return Reached::kThroughLink;
  if (opened.finalPath.empty()) return Reached::kThroughLink;  // where it leads is unknown
  if (!parentFinal.empty() && !isDirectChild(parentFinal, opened.finalPath)) return Reached::kThroughLink;
  if (!sameLastName(opened.finalPath, path) && !sameLastName(opened.finalPath, longPathOf(path)))
    return Reached::kThroughLink;
  return Reached::kItself;
}

std::wstring parentOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) return {};
  return path.substr(0, slash < rootLength(path) ? rootLength(path) : slash);
}

// The real location of the directory above the tree's top, to compare the top with; the
// path up to there is not checked for links (a redirected profile is one).
std::wstring finalPathAbove(const std::wstring& top) {
  const std::wstring parent = parentOf(top);
  if (parent.empty() || parent == top) return {};
  Opened opened;
  if (!open(parent, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, opened))
    return {};
  return opened.finalPath;
}

void logRefusal(const std::wstring& path, const std::wstring& link) {
  logLine(L"refusing to delete %s: %s is a link", path.c_str(), link.c_str());
}

Removal gone(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? Removal::kMissing
                                                                       : Removal::kResists;
}

// The directories from the top down to the entry's parent, each checked and held. Returns
// kRemoved when the walk got through (the entry may be opened now), else the outcome.
Removal walkDown(const std::wstring& path, std::size_t topLength, std::vector<Opened>& held,
                 std::wstring& parentFinal) {
  parentFinal = finalPathAbove(path.substr(0, topLength));
  for (std::size_t end : directoriesBetween(path, topLength)) {
    const std::wstring dir = path.substr(0, end);
    Opened opened;
    if (!holdDirectory(dir, opened)) return gone(path);
    if (judge(opened, dir, parentFinal) != Reached::kItself) {
      logRefusal(path, dir);
      return Removal::kRefused;
    }
    if (!(opened.attributes & FILE_ATTRIBUTE_DIRECTORY)) return Removal::kMissing;
    parentFinal = opened.finalPath;
    held.push_back(std::move(opened));
  }
  return Removal::kRemoved;
}

}  // namespace

std::wstring fullPathOf(const std::wstring& path) {
  if (path.empty()) return {};
  const std::wstring full = pathFrom(
      [&](wchar_t* buffer, DWORD size) { return ::GetFullPathNameW(path.c_str(), size, buffer, nullptr); });
  return trimSeparators(full.empty() ? path : full);
}

Removal removeEntry(const std::wstring& path, std::size_t topLength, EntryKind kind) {
  std::vector<Opened> held;
  std::wstring parentFinal;
  if (Removal walked = walkDown(path, topLength, held, parentFinal); walked != Removal::kRemoved)
    return walked;
  Opened entry;
  if (!open(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            entry))
    return gone(path);
  const Reached reached = judge(entry, path, parentFinal);
  if (reached == Reached::kThroughLink) {
    logRefusal(path, path);
    return Removal::kRefused;
  }
  if (reached == Reached::kItself) {
    const bool isDirectory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isDirectory != (kind == EntryKind::kDirectory)) return Removal::kResists;
  }
  // A link (junction or symbolic link) opened as itself goes as a link, whatever the list
  // called it.
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!::SetFileInformationByHandle(entry.handle.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition))
    return Removal::kResists;
  return Removal::kRemoved;
}

bool scheduleRemovalAtReboot(const std::wstring& path, std::size_t topLength) {
  std::vector<Opened> held;
  std::wstring parentFinal;
  if (walkDown(path, topLength, held, parentFinal) != Removal::kRemoved) return false;
  Opened entry;
  // Attribute access only: the entry is in use, and such an open shares with every holder.
  if (!open(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, entry))
    return false;
  if (judge(entry, path, parentFinal) != Reached::kItself) {
    // What the system does at the next boot with a link is not ours to choose.
    logRefusal(path, path);
    return false;
  }
  entry.handle.reset();
  return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

void emptyTree(const std::wstring& dir, std::size_t topLength, int levels, bool log) {
  if (log) logLine(L"emptying %s", dir.c_str());
  const std::wstring base = dir.empty() || dir.back() == L'\\' ? dir : dir + L"\\";
  WIN32_FIND_DATAW data;
  win::UniqueFind find(::FindFirstFileW((base + L"*.*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = base + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (log) logLine(L"attempting to remove %s (%d)", path.c_str(), levels > 0 ? 1 : 0);
      // A link is never entered: what it points to lies outside the tree. (Removing each
      // entry checks its path again; this only spares the walk.)
      if (levels > 0 && !isLinkReparse(data.dwFileAttributes, data.dwReserved0))
        emptyTree(path, topLength, levels - 1, log);
      removeEntry(path, topLength, EntryKind::kDirectory);
    } else {
      if (log) logLine(L"attempting to delete %s", path.c_str());
      removeEntry(path, topLength, EntryKind::kFile);
    }
  } while (::FindNextFileW(find.get(), &data));
}

void removeTree(const std::wstring& dir) {
  const std::wstring full = fullPathOf(dir);
  if (full.empty()) return;
  const std::size_t top = treeTopLength(full, {full});
  emptyTree(full, top, INT_MAX, false);
  removeEntry(full, top, EntryKind::kDirectory);
}

}  // namespace shipkit::core
