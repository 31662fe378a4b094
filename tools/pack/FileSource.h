#pragma once
// A ByteSource over a file, read with positioned reads so that large installers are never
// loaded whole.

#include <filesystem>
#include <string>

#include "payload/ContainerFormat.h"

namespace shipkit::pack {

class FileSource final : public payload::ByteSource {
 public:
  explicit FileSource(const std::filesystem::path& path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  const std::string& openError() const { return openError_; }

  std::size_t read(void* dst, std::size_t n) override;
  bool seek(uint64_t position) override;
  uint64_t position() const override { return pos_; }
  uint64_t size() const override { return size_; }
  uint32_t lastError() const override { return lastError_; }

 private:
  int fd_ = -1;
  uint64_t pos_ = 0, size_ = 0;
  uint32_t lastError_ = 0;
  std::string openError_;
};

}  // namespace shipkit::pack
