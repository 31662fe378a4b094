#include "pack/Packer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "pack/DefaultMessages.h"
#include "pack/Manifest.h"
#include "pack/PeStub.h"
#include "pack/StubResources.h"

namespace shipkit::pack {

namespace {

class FileSink final : public ByteSink {
 public:
  explicit FileSink(std::FILE* f) : f_(f) {}
  bool write(std::string_view b) override {
    if (std::fwrite(b.data(), 1, b.size(), f_) == b.size()) return true;
    error_ = errno;
    return false;
  }
  std::string errorText() const override {
    return std::string("output: cannot write: ") + std::strerror(error_);
  }

 private:
  std::FILE* f_;
  int error_ = 0;
};

// A file written under a temporary name beside its destination and renamed over it only
// when complete; destroyed without commit(), it removes itself.
class PendingFile {
 public:
  explicit PendingFile(const std::filesystem::path& out) : out_(out) {
    static unsigned counter = 0;
    std::filesystem::path dir = out.parent_path();
    int err = 0;
    for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
      temp_ = (dir.empty() ? std::filesystem::path(".") : dir) /
              ("." + out.filename().string() + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter++) + ".tmp");
      int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
      if (fd < 0) {
        err = errno;
        if (err == EEXIST) continue;
        break;
      }
      file_ = ::fdopen(fd, "wb");
      if (!file_) {
        err = errno;
        ::close(fd);
        ::unlink(temp_.c_str());
        break;
      }
    }
    if (!file_) {
      keep_ = true;  // nothing of ours to remove
      error_ = "cannot create \"" + out.string() + "\": " + std::strerror(err);
    }
  }
  ~PendingFile() {
    if (file_) std::fclose(file_);
    if (!keep_) ::unlink(temp_.c_str());
  }
  std::FILE* file() { return file_; }
  const std::string& error() const { return error_; }

  bool commit() {
    int err = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_)) err = errno ? errno : EIO;
    if (std::fclose(file_) != 0 && !err) err = errno;
    file_ = nullptr;
    if (err) {
      error_ = std::string("cannot write: ") + std::strerror(err);
      return false;
    }
    if (std::rename(temp_.c_str(), out_.c_str()) != 0) {
      error_ = "cannot rename to \"" + out_.string() + "\": " + std::strerror(errno);
      return false;
    }
    keep_ = true;
    return true;
  }

 private:
  std::filesystem::path out_, temp_;
  std::FILE* file_ = nullptr;
  std::string error_;
  bool keep_ = false;  // true once renamed into place, or when nothing was created
};

bool readWhole(const std::filesystem::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  bytes = s.str();
  return !in.bad();
}

}  // namespace

bool writeInstaller(std::string_view stub, const ContainerContent& content, const std::filesystem::path& out,
                    BuildSummary& summary, std::string& error, bool allowSectionCut) {
  StubLayout layout;
  if (!analyzeStub(stub, layout, error, allowSectionCut)) {
    error = "stub: " + error;
    return false;
  }
  if (!unextractedPositionFits(layout.containerStart, content)) {
    error = "files: the file records would end at byte " +
            std::to_string(layout.containerStart + fileRecordsEnd(content)) +
            ", beyond 2147483647: the launcher tells the Java side where they end as a 32-bit number; "
            "move large data into the trailer or a shipped archive";
    return false;
  }
  PendingFile pending(out);
  if (!pending.file()) {
    error = "output: " + pending.error();
    return false;
  }
  FileSink sink(pending.file());
  ContainerWriter prefix(sink);
  prefix.raw(prepareStub(stub, layout));
  prefix.raw(std::string(payload::kHeaderSize, '\0'));  // filled in once the body is known
  ContainerWriter body(sink);
  if (prefix.ok()) writeBody(body, content);
  if (!prefix.ok() || !body.ok()) {
    error = prefix.ok() ? body.error() : prefix.error();
    return false;
  }
  std::string header = encodeHeader(content.magic.value_or(payload::kContainerMagic),
                                    content.checksum ? 1 : 0, content.crc.value_or(body.crc()),
                                    content.checksummedLength.value_or(static_cast<int64_t>(body.written())));
  if (::fseeko(pending.file(), static_cast<off_t>(layout.containerStart), SEEK_SET) != 0 ||
      !sink.write(header)) {
    error = "output: cannot write the header: " + std::string(std::strerror(errno));
    return false;
  }
  if (!pending.commit()) {
    error = "output: " + pending.error();
    return false;
  }
  summary.containerStart = layout.containerStart;
  summary.size = prefix.written() + body.written();
  return true;
}

bool buildInstaller(const BuildOptions& options, BuildSummary& summary, std::string& error) {
  Manifest manifest;
  if (!loadManifest(options.manifest, manifest, error)) return false;
  std::optional<std::filesystem::path> stubPath = options.stub ? options.stub : manifest.stub;
  if (!stubPath) {
    error = "no stub: give --stub or the manifest key \"stub\"";
    return false;
  }
  std::string stub;
  if (!readWhole(*stubPath, stub)) {
    error = "stub: cannot read \"" + stubPath->string() + "\": " + std::strerror(errno);
    return false;
  }
  // Splash images, icon, version information and DPI awareness go into one rewritten tree.
  const bool vendorResources = !manifest.icon.empty() || manifest.version || manifest.dpiAware;
  if (!manifest.splash.empty() || vendorResources) {
    StubChanges changes;
    for (SplashImage& image : manifest.splash)
      changes.resources.push_back(
          {kRtRcdata, static_cast<uint32_t>(kSplashResourceBase + image.step), 0, std::move(image.bytes)});
    if (manifest.version) changes.resources.push_back({kRtVersion, kVersionResource, 0, *manifest.version});
    if (!manifest.icon.empty()) changes.icon = &manifest.icon;
    changes.dpiAware = manifest.dpiAware;
    std::string changed;
    if (!changeResources(stub, changes, changed, error)) {
      error = std::string(vendorResources ? "stub: cannot add the resources: " : "stub: cannot add the splash images: ") +
              error;
      return false;
    }
    stub = std::move(changed);
  }
  summary.warnings = manifest.warnings;
  FilledMessages filled;
  if (manifest.defaultMessages) filled = fillDefaultMessages(manifest.content);
  if (!writeInstaller(stub, manifest.content, options.out, summary, error, options.allowSectionCut)) return false;
  summary.defaultMessages = manifest.defaultMessages;
  summary.filledMessages = filled.english;
  summary.filledGerman = filled.german;
  return true;
}

}  // namespace shipkit::pack
