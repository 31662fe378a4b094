#pragma once
// The decompressed tar stream of a gzip file, read through zlib's gz file functions. A read
// that ends short because the stream is damaged or cut (zlib answers such a read with the
// bytes it had and keeps Z_BUF_ERROR, "unexpected end of file", for gzerror) is a read error:
// only the trailer's CRC and length show that the data is complete and unchanged.

#include <zlib.h>

#include <cstdio>
#include <string>

#include "jre/Untar.h"

namespace shipkit::jre {

class GzTarInput : public TarInput {
 public:
  explicit GzTarInput(gzFile file) : file_(file) {}
  int read(char* buffer, unsigned length) override {
    int n = gzread(file_, buffer, length);
    if (n >= 0 && unsigned(n) == length) return n;
    int error = Z_OK;
    const char* text = gzerror(file_, &error);
    if (n >= 0 && error == Z_OK) return n;
    failure_ = text && *text ? text : "zlib error " + std::to_string(error);
    return -1;
  }
  bool skip(int64_t length) override { return gzseek(file_, z_off_t(length), SEEK_CUR) != -1; }
  bool atEnd() override { return gzeof(file_) != 0; }
  int64_t position() override { return int64_t(gztell(file_)); }
  std::string failure() override { return failure_; }

 private:
  gzFile file_;
  std::string failure_;
};

}  // namespace shipkit::jre
