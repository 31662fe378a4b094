#include "jre/Untar.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "jre/TarFormat.h"

namespace shipkit::jre {

namespace {

std::string extractingLine(const std::string& name, int32_t size) {
  return "extracting " + name + " (size " + std::to_string(size) + ")";
}

std::string backslashes(std::string name) {
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

// Metadata members (GNU long names, pax extended headers) that describe the next member.
struct Pending {
  std::optional<std::string> longName, longLink;
  PaxHeader pax;
  bool any = false;
};

// A link whose target is copied once the archive has ended.
struct DeferredLink {
  MemberName name;
  std::string targetKey;
  std::string line;  // the log line when its target never becomes a file
};

enum class Read { kHeader, kEnd, kFailed };

class Untar {
 public:
  Untar(TarInput& input, TarOutput& output, std::size_t copyBuffer)
      : in_(input), out_(output), buffer_(std::max<std::size_t>(copyBuffer, 1)) {}

  UntarResult run() {
    std::string header;
    Pending pending;
    while (true) {
      Read r = readTarHeader(header);
      if (r == Read::kFailed) return failed();
      if (r == Read::kEnd) break;
      const char type = tarTypeflag(header);
      std::optional<int32_t> size = parseTarSize(header);
      if (!size) {
        if (!hasBinarySize(header)) return corrupt("size field out of range");
        MemberName name = memberName(header, pending);
        return corrupt("member " + name.bytes + ": its size (base-256 field) is beyond 2 GiB", name.utf8);
      }
      if (type == kTypeLongName || type == kTypeLongLink) {
        if (std::size_t(*size) >= kNameBuffer) return corrupt("long name too long");
        std::string text(std::size_t(*size), '\0');
        if (*size > 0 && read(text.data(), unsigned(*size)) != *size) {
          out_.log("gzread failed for long file name", true, false);
          return failed();
        }
        (type == kTypeLongName ? pending.longName : pending.longLink) = text.substr(0, text.find('\0'));
        pending.any = true;
        if (!skipPadding(*size, "gzseek 4 failed")) return failed();
        continue;
      }
      if (type == kTypePax) {
        if (*size > kPaxLimit) return corrupt("extended header too long");
        std::string records(std::size_t(*size), '\0');
        if (*size > 0 && read(records.data(), unsigned(*size)) != *size) {
          out_.log("gzread failed for extended header", true, false);
          return failed();
        }
        if (!parsePaxRecords(records, pending.pax)) return corrupt("malformed extended header");
        pending.any = true;
        if (!skipPadding(*size, "gzseek 3 failed")) return failed();
        continue;
      }
      if (type == kTypePaxGlobal) {
        // Read and ignored: it sets defaults for attributes the launcher does not use.
        if (!skipData(*size)) {
          out_.log("gzseek 2 failed", true, false);
          return failed();
        }
        if (!skipPadding(*size, "gzseek 3 failed")) return failed();
        continue;
      }
      const MemberName name = memberName(header, pending);
      const MemberName link = pending.pax.linkpath
                                  ? MemberName{*pending.pax.linkpath, !pending.pax.binaryNames}
                              : pending.longLink ? MemberName{*pending.longLink, false}
                                                 : MemberName{tarLinkName(header), false};
      const bool sparse = pending.pax.sparse || type == kTypeSparse;
      const std::optional<int64_t> paxSize = pending.pax.size;
      pending = {};
      if (sparse)
        return corrupt("member " + name.bytes + " is a sparse file, which cannot be unpacked", name.utf8);
      if (paxSize) {
        if (*paxSize > INT32_MAX)
          return corrupt(
              "member " + name.bytes + ": its size " + std::to_string(*paxSize) + " is beyond 2 GiB",
              name.utf8);
        size = int32_t(*paxSize);
      }
      bool ok = true;
      switch (type) {
        case kTypeDirectory:
          if (!isSafe(name)) return refuse(name);
          forget(name);
          out_.makeDirectory(name);
          ok = skipData(*size);
          break;
        case kTypeRegular:
        case '\0':   // a regular file in the old format
        case '7': {  // contiguous file: a regular file wherever that makes no difference
          if (!isSafe(name)) return refuse(name);
          out_.progress(in_.position(), true);
          bool created = true;
          if (!extractTarMember(name, *size, created)) {
            if (!created) return {UntarOutcome::kCannotCreate, name};
            out_.log("extract file failed", true, false);
            return failed();
          }
          written(name);
          break;
        }
        case kTypeHardLink:
          if (auto outcome = hardLink(name, link)) return *outcome;
          ok = skipData(*size);
          break;
        case kTypeSymlink:
          if (auto outcome = symbolicLink(name, link)) return *outcome;
          ok = skipData(*size);
          break;
        case '3':
        case '4':
        case '6':
          out_.log(std::string("skipping ") +
                       (type == '6'   ? "FIFO "
                        : type == '3' ? "character device "
                                      : "block device ") +
                       name.bytes,
                   false, name.utf8);
          ok = skipData(*size);
          break;
        default:
          out_.log("skipping " + name.bytes + " of member type " + printable(type), false, name.utf8);
          ok = skipData(*size);
      }
      if (!ok) {
        out_.log("gzseek 2 failed", true, false);
        return failed();
      }
      if (!skipPadding(*size, "gzseek 3 failed")) return failed();
    }
    if (pending.any) return corrupt("the archive ends after a long name or an extended header");
    if (auto outcome = copyDeferredLinks()) return *outcome;
    if (!extracted_) {
      out_.log(endReason_, true, false);
      return failed();
    }
    // zlib checks the stream's CRC and length only when it reads the trailer, which lies
    // behind the tar's end blocks: read to the end so that a damaged stream is not taken.
    if (!readToEnd()) return failed();
    out_.log("untaring JRE was successful", false, false);
    return {UntarOutcome::kSuccess, {}};
  }

 private:
  static std::string printable(char c) {
    if (c >= 0x20 && c < 0x7F) return std::string("'") + c + "'";
    return std::to_string(static_cast<unsigned char>(c));
  }

  MemberName memberName(const std::string& header, const Pending& pending) const {
    if (pending.pax.path) return {backslashes(*pending.pax.path), !pending.pax.binaryNames};
    if (pending.longName) return {*pending.longName, false};
    return {tarHeaderName(header), false};
  }

  static bool isSafe(const MemberName& name) {
    return isSafeMemberName(name.bytes) && (!name.utf8 || isValidUtf8(name.bytes));
  }

  UntarResult failed() {
    out_.log("untaring JRE was unsuccessful", true, false);
    return {};
  }

  UntarResult corrupt(const std::string& reason, bool utf8 = false) {
    out_.log(reason, true, utf8);
    return failed();
  }

  UntarResult refuse(const MemberName& name) {
    return corrupt("refusing member name " + name.bytes, name.utf8);
  }

  // A read that tells why the stream failed, once.
  int read(char* buffer, unsigned length) {
    int n = in_.read(buffer, length);
    if (n < 0 && !streamFailureLogged_) {
      streamFailureLogged_ = true;
      std::string why = in_.failure();
      if (!why.empty()) out_.log("damaged gzip stream: " + why, true, false);
    }
    return n;
  }

  bool readToEnd() {
    int n = 0;
    while ((n = read(buffer_.data(), unsigned(buffer_.size()))) > 0) {
    }
    if (n == 0) return true;
    out_.log("gzread failed", true, false);
    return false;
  }

  bool skipData(int32_t size) { return size == 0 || in_.skip(size); }

  bool skipPadding(int32_t size, const char* failure) {
    if (size % kTarBlock == 0) return true;
    if (in_.skip(int64_t(kTarBlock - size % kTarBlock))) return true;
    out_.log(failure, true, false);
    return false;
  }

  // The next member header. The archive ends at an all-zero block or at the end of the data
  // (after a complete member); a block read short is a truncated archive, and any other block
  // without the magic a damaged one, whatever was extracted before.
  Read readTarHeader(std::string& header) {
    if (in_.atEnd()) return ended("unexpected eof");
    header.assign(kTarBlock, '\0');
    int n = read(header.data(), unsigned(kTarBlock));
    if (n < 0) {
      out_.log("gzread failed", true, false);
      return Read::kFailed;
    }
    // The data may end after a member's padding, not inside it.
    if (n == 0 && in_.position() % int64_t(kTarBlock) == 0) return ended("unexpected eof");
    if (std::size_t(n) < kTarBlock) {
      out_.log("unexpected eof", true, false);
      return Read::kFailed;
    }
    if (hasTarMagic(header)) return Read::kHeader;
    if (isZeroBlock(header)) return ended("no magic number");
    out_.log("no magic number", true, false);
    out_.log("damaged archive: the block at offset " + std::to_string(in_.position() - int64_t(kTarBlock)) +
                 " is neither a member header nor an end block",
             true, false);
    return Read::kFailed;
  }

  Read ended(const char* nothingExtracted) {
    endReason_ = nothingExtracted;
    return Read::kEnd;
  }

  void written(const MemberName& name) {
    std::string key = memberKey(name.bytes);
    deferred_.erase(key);
    files_[key] = name;
    extracted_ = true;
  }

  // A later member of the same name replaces a link not yet copied.
  void forget(const MemberName& name) { deferred_.erase(memberKey(name.bytes)); }

  // A hard link is a copy of a file written before under the target's name; the target is
  // itself a member name (relative to the archive's root) and must stay inside the tree.
  std::optional<UntarResult> hardLink(const MemberName& name, const MemberName& link) {
    if (!isSafe(name)) return refuse(name);
    const std::string& target = link.bytes;
    if (!isSafe(link)) return corrupt("refusing link target " + target + " of " + name.bytes, name.utf8);
    const std::string key = memberKey(target);
    if (auto file = files_.find(key); file != files_.end()) {
      if (!copy(file->second, name)) return UntarResult{UntarOutcome::kCannotCreate, name};
      return std::nullopt;
    }
    if (deferred_.count(key)) {
      // A link to a symbolic link: copied with it once the archive has ended.
      deferred_[memberKey(name.bytes)] = {name, key, "skipping hard link " + name.bytes + " to " + target};
      return std::nullopt;
    }
    return corrupt("hard link " + name.bytes + ": its target " + target + " is not a file written before it",
                   name.utf8);
  }

  // Windows cannot be relied on to create symbolic links: one whose target is a regular
  // member of the tree becomes a copy of it once the archive has ended; others are skipped.
  std::optional<UntarResult> symbolicLink(const MemberName& name, const MemberName& link) {
    if (!isSafe(name)) return refuse(name);
    const std::string& target = link.bytes;
    std::optional<std::string> key = symlinkTargetKey(name.bytes, target);
    const std::string skipped = "skipping symbolic link " + name.bytes + " -> " + target;
    if (!key) {
      out_.log(skipped, false, name.utf8);
      return std::nullopt;
    }
    deferred_[memberKey(name.bytes)] = {name, *key, skipped};
    return std::nullopt;
  }

  bool copy(const MemberName& from, const MemberName& to) {
    out_.log("extracting " + to.bytes + " (copy of " + from.bytes + ")", false, to.utf8 || from.utf8);
    if (!out_.copyFile(from, to)) return false;
    written(to);
    return true;
  }

  // Links whose chain of targets (links to links) ends at a file become copies of that file.
  // Each link's end is found once, so that the work stays linear in the number of links.
  std::optional<UntarResult> copyDeferredLinks() {
    std::map<std::string, const MemberName*> ends;  // by link key; null: no file (or a loop)
    for (const auto& entry : deferred_) {
      std::vector<std::string> chain;
      std::set<std::string> onChain;
      std::string at = entry.first;
      const MemberName* end = nullptr;
      while (true) {
        if (auto known = ends.find(at); known != ends.end()) {
          end = known->second;
          break;
        }
        if (!onChain.insert(at).second) break;
        chain.push_back(at);
        const std::string& target = deferred_.at(at).targetKey;
        if (auto file = files_.find(target); file != files_.end() && target != at) {
          end = &file->second;
          break;
        }
        if (!deferred_.count(target)) break;
        at = target;
      }
      for (const auto& key : chain) ends[key] = end;
    }
    std::vector<std::pair<DeferredLink, MemberName>> copies;
    for (const auto& [key, link] : deferred_) {
      if (const MemberName* end = ends[key])
        copies.emplace_back(link, *end);
      else
        out_.log(link.line, false, link.name.utf8);
    }
    deferred_.clear();
    for (const auto& [link, from] : copies)
      if (!copy(from, link.name)) return UntarResult{UntarOutcome::kCannotCreate, link.name};
    return std::nullopt;
  }

  bool extractTarMember(const MemberName& name, int32_t size, bool& created) {
    out_.log(extractingLine(name.bytes, size), false, name.utf8);
    if (!out_.openFile(name)) {
      created = false;
      return false;
    }
    int64_t written = 0;
    bool streamError = false;
    while (written < size) {
      unsigned want = unsigned(std::min<int64_t>(size - written, int64_t(buffer_.size())));
      int n = read(buffer_.data(), want);
      if (n <= 0) break;
      if (!out_.write(buffer_.data(), std::size_t(n))) {
        streamError = true;
        break;
      }
      written += n;
      out_.progress(in_.position(), false);
    }
    bool closed = out_.closeFile();
    if (streamError || !closed) {
      out_.log("stream error", true, false);
      return false;
    }
    if (written < size) {
      out_.log("sizes don't match: " + std::to_string(written) + ", " + std::to_string(size), true, false);
      return false;
    }
    return true;
  }

  TarInput& in_;
  TarOutput& out_;
  std::vector<char> buffer_;
  bool extracted_ = false;
  bool streamFailureLogged_ = false;
  std::string endReason_;
  std::map<std::string, MemberName> files_;       // regular files written, by member key
  std::map<std::string, DeferredLink> deferred_;  // links to copy at the end, by their own key
};

}  // namespace

UntarResult untar(TarInput& input, TarOutput& output, std::size_t copyBuffer) {
  return Untar(input, output, copyBuffer).run();
}

}  // namespace shipkit::jre
