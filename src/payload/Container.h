#pragma once
// Reading the payload container from the launcher's own executable.

#include <windows.h>

#include <string>
#include <vector>

#include "payload/ContainerFormat.h"
#include "win/Unique.h"

namespace shipkit::payload {

// A ByteSource over an open file handle.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(HANDLE file);
  std::size_t read(void* dst, std::size_t n) override;
  bool seek(uint64_t position) override;
  uint64_t position() const override { return pos_; }
  uint64_t size() const override { return size_; }
  uint32_t lastError() const override { return lastError_; }

 private:
  HANDLE file_;
  uint64_t pos_ = 0;
  uint64_t size_ = 0;
  uint32_t lastError_ = 0;
};

// Opens the executable by its long path for reading; a failure is fatal
// ("Error opening media file.").
win::UniqueFile openOwnExecutable();

// Walks the PE headers (logging the four layout lines) and positions at the container;
// a failed read is fatal with its primitive's text.
uint64_t seekToContainer(ContainerReader& reader);

// Ends the process with the fatal text of the reader's failure, after its log line.
[[noreturn]] void failRead(const ContainerReader& reader);

// Loads the configuration entries and messages, the user language key and the localized
// sets; records the file data position. Failures end the process.
void readContainer(const std::vector<std::wstring>& arguments);

}  // namespace shipkit::payload
