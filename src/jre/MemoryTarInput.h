#pragma once
// A tar stream held in memory, read with the semantics of zlib's gz file functions: a skip
// is only recorded and takes effect at the next read, a read that asks for more than
// remains returns what there is and marks the end. For tests, the fuzzer and benchmarks.

#include <algorithm>
#include <cstring>
#include <string_view>

#include "jre/Untar.h"

namespace shipkit::jre {

class MemoryTarInput : public TarInput {
 public:
  explicit MemoryTarInput(std::string_view data) : data_(data) {}
  int read(char* buffer, unsigned length) override {
    std::size_t remaining = data_.size() - position_;
    std::size_t skipped = std::size_t(std::min<int64_t>(pendingSkip_, int64_t(remaining)));
    position_ += skipped;
    pendingSkip_ = 0;
    std::size_t n = std::min<std::size_t>(length, data_.size() - position_);
    if (n < length) past_ = true;
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return int(n);
  }
  bool skip(int64_t length) override {
    if (length < 0) return false;
    pendingSkip_ += length;
    return true;
  }
  bool atEnd() override { return past_; }
  int64_t position() override { return int64_t(position_) + pendingSkip_; }

 private:
  std::string_view data_;
  std::size_t position_ = 0;
  int64_t pendingSkip_ = 0;
  bool past_ = false;
};

}  // namespace shipkit::jre
