#include "jre/Untar.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "jre/TarFormat.h"

namespace shipkit::jre {

namespace {

std::string extractingLine(const std::string& name, int32_t size) {
  return "extracting " + name + " (size " + std::to_string(size) + ")";
}

class Untar {
 public:
  Untar(TarInput& input, TarOutput& output, std::size_t copyBuffer)
      : in_(input), out_(output), buffer_(std::max<std::size_t>(copyBuffer, 1)) {}

  UntarResult run() {
    std::string header;
    while (readTarHeader(header)) {
      std::optional<int32_t> size = parseTarSize(header);
      char type = tarTypeflag(header);
      std::string name;
      if (type == kTypeLongName) {
        if (!size) return corrupt("size field out of range");
        if (std::size_t(*size) >= kNameBuffer) return corrupt("long name too long");
        std::string longName(std::size_t(*size), '\0');
        if (*size > 0 && in_.read(longName.data(), unsigned(*size)) != *size) {
          out_.log("gzread failed for long file name", true);
          break;
        }
        name = longName.substr(0, longName.find('\0'));
        if (!skipPadding(*size, "gzseek 4 failed")) break;
        if (!readTarHeader(header)) break;
        size = parseTarSize(header);
        type = tarTypeflag(header);
      } else {
        name = tarHeaderName(header);
      }
      if (!size) return corrupt("size field out of range");
      if ((type == kTypeDirectory || type == kTypeRegular) && !isSafeMemberName(name)) {
        return corrupt("refusing member name " + name);
      }
      if (type == kTypeDirectory) {
        out_.makeDirectory(name);
      } else if (type == kTypeRegular) {
        out_.progress(in_.position(), true);
        bool created = true;
        if (!extractTarMember(name, *size, created)) {
          if (!created) return {UntarOutcome::kCannotCreate, name};
          out_.log("extract file failed", true);
          break;
        }
        extracted_ = true;
      } else if (*size > 0 && !in_.skip(*size)) {
        out_.log("gzseek 2 failed", true);
        break;
      }
      if (!skipPadding(*size, "gzseek 3 failed")) break;
    }
    // zlib checks the stream's CRC and length only when it reads the trailer, which lies
    // behind the tar's end blocks: read to the end so that a damaged stream is not taken.
    if (result_ && !readToEnd()) result_ = false;
    if (result_)
      out_.log("untaring JRE was successful", false);
    else
      out_.log("untaring JRE was unsuccessful", true);
    return {result_ ? UntarOutcome::kSuccess : UntarOutcome::kFailed, {}};
  }

 private:
  UntarResult corrupt(const std::string& reason) {
    out_.log(reason, true);
    out_.log("untaring JRE was unsuccessful", true);
    return {};
  }

  bool readToEnd() {
    int n = 0;
    while ((n = in_.read(buffer_.data(), unsigned(buffer_.size()))) > 0) {
    }
    if (n == 0) return true;
    out_.log("gzread failed", true);
    return false;
  }

  bool skipPadding(int32_t size, const char* failure) {
    if (size % kTarBlock == 0) return true;
    if (in_.skip(int64_t(kTarBlock - size % kTarBlock))) return true;
    out_.log(failure, true);
    return false;
  }

  // True when a member header was read. The archive ends at the end of the data or at a
  // block without the magic (the zero blocks at its end); a block read short is a
  // truncated archive, whatever was extracted before.
  bool readTarHeader(std::string& header) {
    if (in_.atEnd()) return ended("unexpected eof");
    header.assign(kHeaderRead, '\0');
    int n = in_.read(header.data(), unsigned(kHeaderRead));
    if (n < 0) {
      out_.log("gzread failed", true);
      return false;
    }
    if (std::size_t(n) < kHeaderRead) {
      out_.log("unexpected eof", true);
      return false;
    }
    if (!hasTarMagic(header)) return ended("no magic number");
    if (!in_.skip(int64_t(kTarBlock - kHeaderRead))) {
      out_.log("gzseek 1 failed", true);
      return false;
    }
    return true;
  }

  bool ended(const char* nothingExtracted) {
    result_ = extracted_;
    if (!extracted_) out_.log(nothingExtracted, true);
    return false;
  }

  bool extractTarMember(const std::string& name, int32_t size, bool& created) {
    out_.log(extractingLine(name, size), false);
    if (!out_.openFile(name)) {
      created = false;
      return false;
    }
    int64_t written = 0;
    bool streamError = false;
    while (written < size) {
      unsigned want = unsigned(std::min<int64_t>(size - written, int64_t(buffer_.size())));
      int n = in_.read(buffer_.data(), want);
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
      out_.log("stream error", true);
      return false;
    }
    if (written < size) {
      out_.log("sizes don't match: " + std::to_string(written) + ", " + std::to_string(size), true);
      return false;
    }
    return true;
  }

  TarInput& in_;
  TarOutput& out_;
  std::vector<char> buffer_;
  bool result_ = false;
  bool extracted_ = false;
};

}  // namespace

UntarResult untar(TarInput& input, TarOutput& output, std::size_t copyBuffer) {
  return Untar(input, output, copyBuffer).run();
}

}  // namespace shipkit::jre
