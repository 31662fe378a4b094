#include "pack/PeResources.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "pack/LittleEndian.h"

namespace shipkit::pack {

namespace {

using le::alignUp;
using le::get;
using le::put;

constexpr uint32_t kHighBit = 0x80000000u;
constexpr int kMaxDepth = 3;  // type, name, language
constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;

std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

class TreeReader {
 public:
  TreeReader(std::string_view image, const std::vector<ImageSection>& sections, uint32_t rva)
      : image_(image), sections_(sections), base_(rva) {}

  bool directory(uint32_t offset, int depth, ResourceDirectory& dir) {
    if (depth >= kMaxDepth) return fail("the resource tree is deeper than three levels");
    if (!visited_.insert(offset).second)
      return fail("the resource directory at offset " + hex(offset) + " is referenced twice");
    uint64_t at = 0;
    if (!map(uint64_t(base_) + offset, kDirectoryHeaderSize, at)) return false;
    dir.characteristics = get(image_, at, 4);
    dir.timeDateStamp = get(image_, at + 4, 4);
    dir.majorVersion = static_cast<uint16_t>(get(image_, at + 8, 2));
    dir.minorVersion = static_cast<uint16_t>(get(image_, at + 10, 2));
    uint32_t named = get(image_, at + 12, 2), numbered = get(image_, at + 14, 2);
    uint64_t entries = 0;
    if (!map(uint64_t(base_) + offset + kDirectoryHeaderSize, (named + numbered) * kEntrySize, entries))
      return false;
    for (uint32_t i = 0; i < named + numbered; ++i) {
      if (!charge(kEntrySize)) return false;
      uint32_t nameField = get(image_, entries + i * kEntrySize, 4);
      uint32_t target = get(image_, entries + i * kEntrySize + 4, 4);
      ResourceEntry entry;
      entry.named = i < named;
      if (entry.named) {
        if (!(nameField & kHighBit) || !name(nameField & ~kHighBit, entry.name)) {
          return fail("a named resource entry has no valid name");
        }
      } else {
        entry.id = nameField;
      }
      if (target & kHighBit) {
        entry.directory = std::make_unique<ResourceDirectory>();
        if (!directory(target & ~kHighBit, depth + 1, *entry.directory)) return false;
      } else if (!data(target, entry.data)) {
        return false;
      }
      dir.entries.push_back(std::move(entry));
    }
    return true;
  }

  const std::string& error() const { return error_; }

 private:
  bool fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    return false;
  }

  // Entries, names, data entries and data may be shared, so a small file could describe a
  // tree of any size. Each costs what it occupies in the file, and a tree whose parts add up
  // to more than the whole file is refused rather than copied without bound: a tree where
  // every part is used once always fits.
  bool charge(uint64_t bytes) {
    if ((total_ += bytes) <= image_.size()) return true;
    return fail("the resource tree's entries, names and data add up to more than the file holds");
  }

  // The file offset of `length` bytes at `rva`, all inside one section's raw data.
  bool map(uint64_t rva, uint64_t length, uint64_t& offset) {
    for (const ImageSection& s : sections_) {
      if (rva >= s.virtualAddress && rva + length <= uint64_t(s.virtualAddress) + s.rawSize) {
        offset = s.rawOffset + (rva - s.virtualAddress);
        if (offset + length <= image_.size()) return true;
      }
    }
    return fail("resource bytes at RVA " + hex(rva) + " (" + std::to_string(length) +
                " bytes) are not in the file");
  }

  bool name(uint32_t offset, std::u16string& out) {
    uint64_t at = 0;
    if (!map(uint64_t(base_) + offset, 2, at)) return false;
    uint32_t length = get(image_, at, 2);
    if (!charge(2 + 2ull * length)) return false;
    if (!map(uint64_t(base_) + offset + 2, 2ull * length, at)) return false;
    for (uint32_t i = 0; i < length; ++i) out.push_back(static_cast<char16_t>(get(image_, at + 2 * i, 2)));
    return true;
  }

  bool data(uint32_t offset, ResourceData& out) {
    uint64_t at = 0;
    if (!map(uint64_t(base_) + offset, kDataEntrySize, at)) return false;
    uint32_t rva = get(image_, at, 4), size = get(image_, at + 4, 4);
    out.codePage = get(image_, at + 8, 4);
    out.reserved = get(image_, at + 12, 4);
    if (!charge(kDataEntrySize + uint64_t(size))) return false;
    uint64_t bytes = 0;
    if (!map(rva, size, bytes)) return false;
    out.bytes = std::string(image_.substr(bytes, size));
    return true;
  }

  std::string_view image_;
  const std::vector<ImageSection>& sections_;
  uint32_t base_;
  std::set<uint32_t> visited_;
  uint64_t total_ = 0;
  std::string error_;
};

ResourceDirectory& subdirectory(ResourceDirectory& dir, uint32_t id) {
  auto it = std::find_if(dir.entries.begin(), dir.entries.end(),
                         [&](const ResourceEntry& e) { return !e.named && e.id >= id; });
  if (it == dir.entries.end() || it->id != id) {
    ResourceEntry entry;
    entry.id = id;
    it = dir.entries.insert(it, std::move(entry));
  }
  if (!it->directory) it->directory = std::make_unique<ResourceDirectory>();
  return *it->directory;
}

// Offsets of every part of the serialized tree, computed before anything is written.
class TreeWriter {
 public:
  std::string write(const ResourceDirectory& root, uint32_t rva) {
    collect(root);
    uint64_t end = 0;
    for (const ResourceDirectory* d : directories_) {
      directoryAt_.push_back(end);
      end += kDirectoryHeaderSize + kEntrySize * d->entries.size();
    }
    for (const std::u16string* n : names_) {
      nameAt_.push_back(end);
      end += 2 + 2 * n->size();
    }
    end = alignUp(end, 4);
    uint64_t entriesStart = end;
    end += kDataEntrySize * data_.size();
    for (const ResourceData* d : data_) {
      end = alignUp(end, 8);
      dataAt_.push_back(end);
      end += d->bytes.size();
    }
    std::string out(end, '\0');
    std::size_t nextName = 0, nextData = 0;
    for (std::size_t i = 0; i < directories_.size(); ++i) {
      const ResourceDirectory& d = *directories_[i];
      uint64_t at = directoryAt_[i];
      put(out, at, d.characteristics, 4);
      put(out, at + 4, d.timeDateStamp, 4);
      put(out, at + 8, d.majorVersion, 2);
      put(out, at + 10, d.minorVersion, 2);
      auto named = std::count_if(d.entries.begin(), d.entries.end(), [](const auto& e) { return e.named; });
      put(out, at + 12, static_cast<uint32_t>(named), 2);
      put(out, at + 14, static_cast<uint32_t>(d.entries.size() - named), 2);
      for (std::size_t k = 0; k < d.entries.size(); ++k) {
        const ResourceEntry& e = d.entries[k];
        uint64_t entry = at + kDirectoryHeaderSize + kEntrySize * k;
        if (e.named) {
          const std::u16string& n = *names_[nextName];
          uint64_t nameAt = nameAt_[nextName++];
          put(out, entry, static_cast<uint32_t>(nameAt) | kHighBit, 4);
          put(out, nameAt, static_cast<uint32_t>(n.size()), 2);
          for (std::size_t c = 0; c < n.size(); ++c) put(out, nameAt + 2 + 2 * c, n[c], 2);
        } else {
          put(out, entry, e.id, 4);
        }
        if (e.directory) {
          put(out, entry + 4, static_cast<uint32_t>(directoryAt_[indexOf(e.directory.get())]) | kHighBit, 4);
        } else {
          uint64_t dataEntry = entriesStart + kDataEntrySize * nextData;
          put(out, entry + 4, static_cast<uint32_t>(dataEntry), 4);
          put(out, dataEntry, static_cast<uint32_t>(rva + dataAt_[nextData]), 4);
          put(out, dataEntry + 4, static_cast<uint32_t>(e.data.bytes.size()), 4);
          put(out, dataEntry + 8, e.data.codePage, 4);
          put(out, dataEntry + 12, e.data.reserved, 4);
          out.replace(dataAt_[nextData++], e.data.bytes.size(), e.data.bytes);
        }
      }
    }
    return out;
  }

 private:
  // Directories breadth first (the root at offset 0); names and data in the order the
  // directory entries are written, which is the order write() consumes them in.
  void collect(const ResourceDirectory& root) {
    directories_.push_back(&root);
    for (std::size_t i = 0; i < directories_.size(); ++i) {
      for (const ResourceEntry& e : directories_[i]->entries) {
        if (e.named) names_.push_back(&e.name);
        if (e.directory) {
          directories_.push_back(e.directory.get());
        } else {
          data_.push_back(&e.data);
        }
      }
    }
  }

  std::size_t indexOf(const ResourceDirectory* d) const {
    return std::find(directories_.begin(), directories_.end(), d) - directories_.begin();
  }

  std::vector<const ResourceDirectory*> directories_;
  std::vector<const std::u16string*> names_;
  std::vector<const ResourceData*> data_;
  std::vector<uint64_t> directoryAt_, nameAt_, dataAt_;
};

}  // namespace

bool readResourceTree(std::string_view image, const std::vector<ImageSection>& sections, uint32_t rva,
                      uint32_t size, ResourceDirectory& root, std::string& error) {
  root = {};
  if (rva == 0 && size == 0) return true;  // no resources yet
  TreeReader reader(image, sections, rva);
  if (!reader.directory(0, 0, root)) {
    error = reader.error();
    root = {};
    return false;
  }
  return true;
}

void setResource(ResourceDirectory& root, uint32_t type, uint32_t id, uint16_t language, std::string bytes) {
  ResourceDirectory& languages = subdirectory(subdirectory(root, type), id);
  languages.entries.clear();
  ResourceEntry entry;
  entry.id = language;
  entry.data.bytes = std::move(bytes);
  languages.entries.push_back(std::move(entry));
}

const ResourceDirectory* findDirectory(const ResourceDirectory& dir, uint32_t id) {
  for (const ResourceEntry& e : dir.entries)
    if (!e.named && e.id == id) return e.directory.get();
  return nullptr;
}

void removeResource(ResourceDirectory& root, uint32_t type, uint32_t id) {
  auto numbered = [](uint32_t want) {
    return [want](const ResourceEntry& e) { return !e.named && e.id == want; };
  };
  auto typeEntry = std::find_if(root.entries.begin(), root.entries.end(), numbered(type));
  if (typeEntry == root.entries.end() || !typeEntry->directory) return;
  std::erase_if(typeEntry->directory->entries, numbered(id));
  if (typeEntry->directory->entries.empty()) root.entries.erase(typeEntry);
}

std::string serializeResourceTree(const ResourceDirectory& root, uint32_t sectionRva) {
  return TreeWriter().write(root, sectionRva);
}

}  // namespace shipkit::pack
