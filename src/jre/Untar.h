#pragma once
// The untar loop of a shipped runtime archive over an abstract input (the decompressed
// stream) and output (the target directory), so that it runs natively under tests and the
// fuzzer. The log texts are the launcher's; the caller writes them to the diagnostic log.

#include <cstdint>
#include <string>

namespace shipkit::jre {

// The decompressed tar stream, with the semantics of zlib's gz file functions.
class TarInput {
 public:
  virtual ~TarInput() = default;
  // Bytes read (fewer at the end of the data), or -1 on a read error.
  virtual int read(char* buffer, unsigned length) = 0;
  // Skips forward; false on an error (a skip past the end may only show at the next read).
  virtual bool skip(int64_t length) = 0;
  // Whether a read has gone past the end of the data.
  virtual bool atEnd() = 0;
  // The position in the decompressed stream.
  virtual int64_t position() = 0;
  // Why the last read failed, when the stream can tell (a damaged or cut gzip stream).
  virtual std::string failure() { return {}; }
};

// A member's name as the target directory's functions take it.
struct MemberName {
  std::string bytes;
  bool utf8 = false;  // from a pax header: UTF-8 (created through the wide functions)
};

// The target directory. Names are relative to it and already checked.
class TarOutput {
 public:
  virtual ~TarOutput() = default;
  virtual void makeDirectory(const MemberName& name) = 0;
  // Opens a new file for writing; false when it cannot be created.
  virtual bool openFile(const MemberName& name) = 0;
  // Copies a file written before to a new name (links become copies); false when the copy
  // cannot be created.
  virtual bool copyFile(const MemberName& from, const MemberName& to) = 0;
  // Writes to the open file; false on a short write or a stream error.
  virtual bool write(const char* data, std::size_t length) = 0;
  // Closes the open file; false when the stream had an error.
  virtual bool closeFile() = 0;
  // A regular member begins (`member` true) or a chunk of it was copied, at this position
  // of the input.
  virtual void progress(int64_t position, bool member) = 0;
  // A log line; `utf8` when a name in it came from a pax header.
  virtual void log(const std::string& text, bool error, bool utf8) = 0;
};

enum class UntarOutcome {
  kSuccess,       // the archive ended after at least one regular file was written
  kFailed,        // read, seek or write failure, damaged archive or stream, a member that
                  // cannot be written correctly, or nothing extracted
  kCannotCreate,  // a member file could not be created (`failedName` holds its name)
};

struct UntarResult {
  UntarOutcome outcome = UntarOutcome::kFailed;
  MemberName failedName;
};

// Reads headers and members until the archive ends (an all-zero block, or the end of the data
// right after a member) or a step fails, then reads the stream to its end so that its
// trailer is checked. Symbolic links are copied once the archive has ended, so that their
// target may come later. `copyBuffer` bytes are copied at a time.
UntarResult untar(TarInput& input, TarOutput& output, std::size_t copyBuffer);

}  // namespace shipkit::jre
