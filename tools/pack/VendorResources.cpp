#include "pack/VendorResources.h"

#include <algorithm>
#include <set>

#include "pack/LittleEndian.h"

namespace shipkit::pack {

namespace {

using le::get;
using le::put;

constexpr std::size_t kIconHeaderSize = 6;
constexpr std::size_t kIconEntrySize = 16;
constexpr std::size_t kGroupEntrySize = 14;
constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);

std::string describe(std::size_t index, uint64_t offset, uint64_t size) {
  return "image " + std::to_string(index + 1) + " (offset " + std::to_string(offset) + ", " +
         std::to_string(size) + " bytes)";
}

// What a group's entries refer to: the icon ids of every language's group data.
std::set<uint32_t> groupImageIds(const ResourceDirectory& languages) {
  std::set<uint32_t> ids;
  for (const ResourceEntry& language : languages.entries) {
    const std::string& g = language.data.bytes;
    if (language.directory || g.size() < kIconHeaderSize) continue;
    std::size_t count = get(g, 4, 2);
    for (std::size_t i = 0; i < count && kIconHeaderSize + (i + 1) * kGroupEntrySize <= g.size(); ++i)
      ids.insert(get(g, kIconHeaderSize + i * kGroupEntrySize + 12, 2));
  }
  return ids;
}

// A VS_VERSIONINFO-style block: length, value length, type, key, padding, value, padding,
// children. Lengths are filled in when the block is closed.
class Block {
 public:
  Block(std::string& out, std::u16string_view key, uint16_t valueLength, bool text)
      : out_(out), start_(out.size()) {
    out_.append(6, '\0');
    put(out_, start_ + 2, valueLength, 2);
    put(out_, start_ + 4, text ? 1 : 0, 2);
    appendText(key);
    pad();
  }
  void appendText(std::u16string_view text) {
    for (char16_t c : text) out_.append({static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)});
    out_.append(2, '\0');
  }
  void pad() { out_.append((4 - out_.size() % 4) % 4, '\0'); }
  // The block's length excludes the padding after its last child.
  void close() { put(out_, start_, out_.size() - start_, 2); }

 private:
  std::string& out_;
  std::size_t start_;
};

}  // namespace

bool parseIcon(std::string_view f, std::vector<IconImage>& images, std::string& error) {
  images.clear();
  if (f.size() < kIconHeaderSize) {
    error = "not an icon file: " + std::to_string(f.size()) + " bytes, shorter than the 6-byte header";
    return false;
  }
  uint32_t reserved = get(f, 0, 2), type = get(f, 2, 2), count = get(f, 4, 2);
  if (reserved != 0 || (type != 1 && type != 2)) {
    error = "not an icon file: the header does not start with 00 00 01 00";
    return false;
  }
  if (type == 2) {
    error = "a cursor file, not an icon";
    return false;
  }
  if (count == 0) {
    error = "the icon file holds no images";
    return false;
  }
  const uint64_t directoryEnd = kIconHeaderSize + uint64_t(count) * kIconEntrySize;
  if (directoryEnd > f.size()) {
    error = "the directory of " + std::to_string(count) + " images needs " + std::to_string(directoryEnd) +
            " bytes, the file has " + std::to_string(f.size());
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const uint64_t at = kIconHeaderSize + i * kIconEntrySize;
    const uint64_t size = get(f, at + 8, 4), offset = get(f, at + 12, 4);
    const std::string where = describe(i, offset, size);
    if (size == 0) {
      error = where + " is empty";
      return false;
    }
    if (offset < directoryEnd || offset + size > f.size()) {
      error = where + " lies outside the file's image data (bytes " + std::to_string(directoryEnd) + " to " +
              std::to_string(f.size()) + ")";
      return false;
    }
    std::string_view image = f.substr(offset, size);
    bool png = image.size() >= 16 && image.substr(0, 8) == kPngSignature && image.substr(12, 4) == "IHDR";
    // A DIB starts with its header's size: BITMAPINFOHEADER (40) or one of its later forms.
    uint32_t dibHeader = image.size() >= 4 ? get(image, 0, 4) : 0;
    bool dib = (dibHeader == 40 || dibHeader == 108 || dibHeader == 124) && image.size() >= dibHeader;
    if (!png && !dib) {
      error = where + " is neither a PNG image nor a bitmap (DIB)";
      return false;
    }
    images.push_back({std::string(f.substr(at, 12)), std::string(image)});
  }
  return true;
}

void replaceIcon(ResourceDirectory& root, const std::vector<IconImage>& images) {
  uint16_t language = 0;
  std::set<uint32_t> old, kept;
  if (const ResourceDirectory* groups = findDirectory(root, kRtGroupIcon)) {
    for (const ResourceEntry& group : groups->entries) {
      if (!group.directory) continue;
      std::set<uint32_t> ids = groupImageIds(*group.directory);
      if (!group.named && group.id == kStubIconGroup) {
        old = std::move(ids);
        if (!group.directory->entries.empty())
          language = static_cast<uint16_t>(group.directory->entries.front().id);
      } else {
        kept.insert(ids.begin(), ids.end());
      }
    }
  }
  for (uint32_t id : old)
    if (!kept.count(id)) removeResource(root, kRtIcon, id);

  std::set<uint32_t> used;
  if (const ResourceDirectory* icons = findDirectory(root, kRtIcon))
    for (const ResourceEntry& e : icons->entries)
      if (!e.named) used.insert(e.id);
  std::string group(kIconHeaderSize, '\0');
  put(group, 2, 1, 2);
  put(group, 4, images.size(), 2);
  uint32_t next = 1;
  for (const IconImage& image : images) {
    while (used.count(next)) ++next;
    used.insert(next);
    setResource(root, kRtIcon, next, language, image.bytes);
    group += image.entry;
    group.append(2, '\0');
    put(group, group.size() - 2, next, 2);
  }
  setResource(root, kRtGroupIcon, kStubIconGroup, language, std::move(group));
}

bool parseVersionNumber(std::string_view text, uint16_t (&parts)[4], std::string& error) {
  std::fill(std::begin(parts), std::end(parts), 0);
  std::size_t index = 0, start = 0;
  for (;;) {
    std::size_t end = std::min(text.find('.', start), text.size());
    std::string_view part = text.substr(start, end - start);
    if (index == 4) {
      error = "more than four parts";
      return false;
    }
    if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string_view::npos) {
      error = "part " + std::to_string(index + 1) + " (\"" + std::string(part) +
              "\") is not a number from 0 to 65535";
      return false;
    }
    unsigned long value = std::stoul(std::string(part));
    if (value > 65535) {
      error = "part " + std::to_string(index + 1) + " (" + std::string(part) + ") is above 65535";
      return false;
    }
    parts[index++] = static_cast<uint16_t>(value);
    if (end == text.size()) return true;
    start = end + 1;
  }
}

std::string encodeVersionInfo(const VersionInfo& info) {
  auto high = [](const uint16_t (&p)[4]) { return uint32_t(p[0]) << 16 | p[1]; };
  auto low = [](const uint16_t (&p)[4]) { return uint32_t(p[2]) << 16 | p[3]; };
  std::string out;
  Block root(out, u"VS_VERSION_INFO", 52, false);
  std::size_t fixed = out.size();
  out.append(52, '\0');
  put(out, fixed, 0xFEEF04BD, 4);       // signature
  put(out, fixed + 4, 0x00010000, 4);   // structure version 1.0
  put(out, fixed + 8, high(info.fileVersion), 4);
  put(out, fixed + 12, low(info.fileVersion), 4);
  put(out, fixed + 16, high(info.productVersion), 4);
  put(out, fixed + 20, low(info.productVersion), 4);
  put(out, fixed + 24, 0x3F, 4);        // every flag is valid: none is set
  put(out, fixed + 32, 0x00040004, 4);  // VOS_NT_WINDOWS32
  put(out, fixed + 36, 1, 4);           // VFT_APP
  root.pad();
  {
    Block strings(out, u"StringFileInfo", 0, true);
    Block table(out, u"000004b0", 0, true);  // neutral language, UTF-16
    for (const auto& [key, value] : info.strings) {
      // The value length of a string counts its units with the terminator.
      Block entry(out, key, static_cast<uint16_t>(value.size() + 1), true);
      entry.appendText(value);
      entry.close();
      out.resize(out.size() + (4 - out.size() % 4) % 4, '\0');
    }
    table.close();
    strings.close();
  }
  {
    Block files(out, u"VarFileInfo", 0, true);
    Block translation(out, u"Translation", 4, false);
    out.append(4, '\0');
    put(out, out.size() - 4, 0x04B00000, 4);  // language 0, code page 1200
    translation.close();
    files.close();
  }
  root.close();
  return out;
}

bool declareDpiAware(std::string_view manifest, std::string& out, std::string& error) {
  constexpr std::string_view settings =
      "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>\n"
      "      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
      "PerMonitorV2, PerMonitor</dpiAwareness>\n";
  if (manifest.find("dpiAware") != std::string_view::npos) {
    error = "the stub's manifest already declares its DPI awareness";
    return false;
  }
  std::size_t at = manifest.find("<windowsSettings>");
  if (at != std::string_view::npos) {
    at += std::string_view("<windowsSettings>").size();
    out = std::string(manifest.substr(0, at)) + "\n      " + std::string(settings) +
          std::string(manifest.substr(at));
    return true;
  }
  if (manifest.find("windowsSettings") != std::string_view::npos) {
    error = "the stub's manifest has a windowsSettings element in a form the packer does not extend";
    return false;
  }
  at = manifest.rfind("</assembly>");
  if (at == std::string_view::npos) {
    error = "the stub's manifest has no closing </assembly> tag";
    return false;
  }
  out = std::string(manifest.substr(0, at)) +
        "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n    <windowsSettings>\n      " +
        std::string(settings) + "    </windowsSettings>\n  </application>\n" + std::string(manifest.substr(at));
  return true;
}

}  // namespace shipkit::pack
