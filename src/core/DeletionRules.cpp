#include "core/DeletionRules.h"

namespace shipkit::core {

namespace {

wchar_t foldAscii(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
}

bool equalFolded(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  return true;
}

bool startsFolded(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && equalFolded(text.substr(0, prefix.size()), prefix);
}

// The end of the next component after `from`: the following backslash or the end.
std::size_t componentEnd(std::wstring_view path, std::size_t from) {
  std::size_t end = path.find(L'\\', from);
  return end == std::wstring_view::npos ? path.size() : end;
}

std::wstring_view lastName(std::wstring_view path) {
  path = path.substr(0, path.find_last_not_of(L'\\') + 1);
  std::size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool isLinkReparse(std::uint32_t attributes, std::uint32_t tag) {
  if (!(attributes & kAttributeReparse)) return false;
  return tag == kTagMountPoint || tag == kTagSymlink || tag == 0;
}

std::size_t rootLength(std::wstring_view path) {
  // After "\\server\share\" (or its long "\\?\UNC\" form): two components.
  auto afterShare = [&](std::size_t from) {
    std::size_t server = componentEnd(path, from);
    if (server == path.size() || server == from) return std::size_t(0);
    std::size_t share = componentEnd(path, server + 1);
    if (share == server + 1) return std::size_t(0);
    return share < path.size() ? share + 1 : share;
  };
  auto afterDrive = [&](std::size_t from) {
    if (path.size() >= from + 3 && path[from + 1] == L':' && path[from + 2] == L'\\') return from + 3;
    return std::size_t(0);
  };
  if (startsFolded(path, L"\\\\?\\UNC\\")) return afterShare(8);
  if (startsFolded(path, L"\\\\?\\") || startsFolded(path, L"\\\\.\\")) return afterDrive(4);
  if (startsFolded(path, L"\\\\")) return afterShare(2);
  return afterDrive(0);
}

std::wstring trimSeparators(std::wstring_view path) {
  const std::size_t root = rootLength(path);
  while (path.size() > root && path.size() > 1 && path.back() == L'\\') path.remove_suffix(1);
  return std::wstring(path);
}

bool isExtractionDirName(std::wstring_view name) {
  if (!startsFolded(name, L"jwr")) return false;
  for (std::size_t i = 3; i + 8 <= name.size(); ++i)
    if (equalFolded(name.substr(i, 8), L".tmp_dir")) return true;
  return false;
}

std::size_t treeTopLength(std::wstring_view path, const std::vector<std::wstring>& trees) {
  const std::size_t root = rootLength(path);
  for (std::size_t at = root; at < path.size();) {
    const std::size_t end = componentEnd(path, at);
    const std::wstring_view prefix = path.substr(0, end);
    if (end > at && isExtractionDirName(path.substr(at, end - at))) return end;
    for (const std::wstring& tree : trees)
      if (equalFolded(trimSeparators(tree), prefix)) return end;
    at = end + 1;
  }
  return path.size();
}

std::vector<std::size_t> directoriesBetween(std::wstring_view path, std::size_t topLength) {
  std::vector<std::size_t> ends;
  if (topLength >= path.size()) return ends;
  ends.push_back(topLength);
  for (std::size_t at = topLength + 1; at < path.size();) {
    const std::size_t end = componentEnd(path, at);
    if (end >= path.size()) break;
    if (end > at) ends.push_back(end);
    at = end + 1;
  }
  return ends;
}

bool isDirectChild(std::wstring_view parent, std::wstring_view child) {
  parent = parent.substr(0, parent.find_last_not_of(L'\\') + 1);
  if (parent.empty() || child.size() <= parent.size() + 1) return false;
  if (!equalFolded(child.substr(0, parent.size()), parent) || child[parent.size()] != L'\\') return false;
  const std::wstring_view name = child.substr(parent.size() + 1);
  return !name.empty() && name.find(L'\\') == std::wstring_view::npos;
}

bool sameLastName(std::wstring_view a, std::wstring_view b) {
  const std::wstring_view x = lastName(a), y = lastName(b);
  return !x.empty() && equalFolded(x, y);
}

}  // namespace shipkit::core
