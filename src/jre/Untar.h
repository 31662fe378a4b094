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
};

// The target directory. Names are relative to it and already checked.
class TarOutput {
 public:
  virtual ~TarOutput() = default;
  virtual void makeDirectory(const std::string& name) = 0;
  // Opens a new file for writing; false when it cannot be created.
  virtual bool openFile(const std::string& name) = 0;
  // Writes to the open file; false on a short write or a stream error.
  virtual bool write(const char* data, std::size_t length) = 0;
  // Closes the open file; false when the stream had an error.
  virtual bool closeFile() = 0;
  // A regular member begins (`member` true) or a chunk of it was copied, at this position
  // of the input.
  virtual void progress(int64_t position, bool member) = 0;
  virtual void log(const std::string& text, bool error) = 0;
};

enum class UntarOutcome {
  kSuccess,       // the archive ended after at least one regular file was written
  kFailed,        // read, seek or write failure, corrupt header, or nothing extracted
  kCannotCreate,  // a member file could not be created (`failedName` holds its name)
};

struct UntarResult {
  UntarOutcome outcome = UntarOutcome::kFailed;
  std::string failedName;
};

// Reads headers and members until the archive ends or a step fails. `copyBuffer` bytes
// are copied at a time.
UntarResult untar(TarInput& input, TarOutput& output, std::size_t copyBuffer);

}  // namespace shipkit::jre
