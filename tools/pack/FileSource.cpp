#include "pack/FileSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace shipkit::pack {

FileSource::FileSource(const std::filesystem::path& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  std::string why;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = "not a regular file";
  } else {
    size_ = static_cast<uint64_t>(st.st_size);
    return;
  }
  openError_ = "cannot read \"" + path.string() + "\": " + why;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

FileSource::~FileSource() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t FileSource::read(void* dst, std::size_t n) {
  if (fd_ < 0 || pos_ >= size_) return 0;
  ssize_t got;
  do {
    got = ::pread(fd_, dst, n, static_cast<off_t>(pos_));
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    lastError_ = static_cast<uint32_t>(errno);
    return 0;
  }
  pos_ += static_cast<uint64_t>(got);
  return static_cast<std::size_t>(got);
}

bool FileSource::seek(uint64_t position) {
  pos_ = position;  // past the end is allowed; reads then return 0
  return true;
}

}  // namespace shipkit::pack
