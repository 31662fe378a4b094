#include "payload/Extract.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/RunState.h"
#include "payload/Container.h"
#include "payload/PayloadNames.h"
#include "win/Unique.h"

namespace shipkit::payload {

// The shared services (log, configuration, paths, run state, error display).
using namespace core;

using core::logError;
using core::logLine;

namespace {
int32_t gUnextractedPosition = 0;
// Chunks of 256 KiB keep the number of system calls small; the copy is streamed, so memory
// does not grow with the payload. Not larger: Linux gives the file cache pages of a write in
// blocks as large as the write (up to 2 MiB), and blocks of 512 KiB and more come from the
// large free areas that a virtual machine with free page reporting has handed back to its
// host, so that every first touch of them waits for the host: writes of 1 MiB cost about
// fifteen times the processor time of writes of 256 KiB there, under Wine as natively.
constexpr DWORD kChunk = 256 << 10;

// XOR with the mask, 64 bytes per step in SSE2 registers (every x64 processor has them),
// the tail byte by byte.
void unmaskChunk(unsigned char* data, DWORD size) {
  const __m128i mask = _mm_set1_epi8(char(kFileMask));
  DWORD i = 0;
  for (; i + 64 <= size; i += 64) {
    auto* p = reinterpret_cast<__m128i*>(data + i);
    __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
    __m128i c = _mm_loadu_si128(p + 2), d = _mm_loadu_si128(p + 3);
    _mm_storeu_si128(p, _mm_xor_si128(a, mask));
    _mm_storeu_si128(p + 1, _mm_xor_si128(b, mask));
    _mm_storeu_si128(p + 2, _mm_xor_si128(c, mask));
    _mm_storeu_si128(p + 3, _mm_xor_si128(d, mask));
  }
  for (; i < size; ++i) data[i] ^= kFileMask;
}

// A file written in several chunks gets its final size first, so that the file system can
// allocate it at once instead of extending it with every write. A failure changes nothing:
// the writes then report a full disk as before.
void presetSize(HANDLE file, int64_t length) {
  if (length <= int64_t(kChunk)) return;
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = length;
  ::SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
}

// After a failed copy the file keeps only the bytes that were written, as without presetSize.
void trimToWritten(HANDLE file) {
  LARGE_INTEGER zero{}, at{};
  if (::SetFilePointerEx(file, zero, &at, FILE_CURRENT)) ::SetEndOfFile(file);
}

// Creates (or replaces) an output file. A name that is not taken yet is created as a new
// file: Wine carries out "always create" as a truncation to length zero, even of a file it
// has just created, and ext4 answers a truncation to zero by writing the whole file to disk
// when it is closed (its guard for files replaced in place), so that every close would wait
// for the disk. Anything else (the name exists) is left to "always create", as before.
HANDLE createOutput(const std::string& path) {
  HANDLE file =
      ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) return file;
  return ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

int copyMaskedWith(std::vector<unsigned char>& storage, HANDLE source, HANDLE target, int64_t length,
                   bool unmask) {
  // A small file needs no more than its own size; a buffer once grown is kept for the next file.
  const std::size_t need = std::size_t(std::clamp<int64_t>(length, 1, kChunk));
  if (storage.size() < need) storage.resize(need);
  unsigned char* buffer = storage.data();
  int64_t copied = 0;
  DWORD got = 0;
  DWORD error = 0;
  while (copied < length) {
    DWORD want = DWORD(std::min<int64_t>(length - copied, int64_t(storage.size())));
    got = 0;
    if (!::ReadFile(source, buffer, want, &got, nullptr)) {
      error = ::GetLastError();
      break;
    }
    if (got == 0) {
      error = ::GetLastError();
      break;
    }
    if (unmask) unmaskChunk(buffer, got);
    DWORD done = 0;
    while (done < got) {
      DWORD wrote = 0;
      if (!::WriteFile(target, buffer + done, got - done, &wrote, nullptr) || wrote == 0) {
        logError(L"WriteFile failed %d %d", int(got - done), int(::GetLastError()));
        return kExtractWriteFailed;
      }
      done += wrote;
    }
    copied += got;
  }
  if (copied < length) {
    logError(L"ReadFile failed %d %d %I64d", int(got), int(error), copied);
    return kExtractReadFailed;
  }
  return kExtractOk;
}

// The number of files after which a test holds the extraction, or -1.
int extractionHold() {
  char text[16] = {};
  DWORD n = ::GetEnvironmentVariableA("SHIPKIT_EXTRACTION_HOLD", text, sizeof text);
  return n > 0 && n < sizeof text ? std::atoi(text) : -1;
}

void holdUntilCanceled(const core::Progress& progress, int files) {
  logLine(L"holding the extraction after %d files", files);
  for (int waited = 0; !progress.canceled() && waited < 10000; waited += 10) ::Sleep(10);
}

}  // namespace

int32_t unextractedPosition() {
  return gUnextractedPosition;
}

bool isSafePayloadName(std::string_view name) {
  return payloadNameIsSafe(name);
}

int copyMasked(HANDLE source, HANDLE target, int64_t length, bool unmask) {
  std::vector<unsigned char> storage;
  return copyMaskedWith(storage, source, target, length, unmask);
}

int extractPayload(const core::Progress& progress) {
  logLine(L"extracting files");
  const int32_t count = configInt(2002);
  logLine(L"Included files: %d", int(count));
  if (count == 0) return kExtractOk;
  const std::string& dir = core::runState().extractionDir;

  const std::vector<std::string> names =
      splitNames(configStringCopy(2003), count > 0 ? std::size_t(count) : 0);
  // Every name is checked before anything is written: a name that would leave the
  // extraction directory marks the container as damaged.
  for (const auto& name : names) {
    if (!payloadNameIsSafe(name)) {
      logError(L"payload file name is not a plain file inside the extraction directory: %S", name.c_str());
      return kExtractReadFailed;
    }
  }

  win::UniqueFile container = openOwnExecutable();
  FileSource source(container.get());
  ContainerReader reader(source);
  source.seek(tables().fileDataPosition);

  core::LogBatch batch;  // a line or two per file
  // One copy buffer for all files: a fresh one per file would be fresh memory to fault in.
  std::vector<unsigned char> buffer;
  const int hold = extractionHold();
  int extracted = 0;
  for (const auto& name : names) {
    if (extracted++ == hold) holdUntilCanceled(progress, hold);
    if (progress.canceled()) {
      logLine(L"extraction canceled");
      return kExtractCanceled;
    }
    const std::string path = dir + "\\" + name;
    std::size_t slash = name.find('\\');
    if (slash != std::string::npos) {
      const std::string subdir = dir + "\\" + name.substr(0, slash);
      logLine(L"creating directory %S", subdir.c_str());
      if (!::CreateDirectoryA(subdir.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        logError(L"failed to create directory %S", subdir.c_str());
    }
    int64_t length = 0;
    if (!reader.readLong(length)) failRead(reader);
    logLine(L"extracting %S (size: %I64d)", path.c_str(), length);
    if (length <= 0) continue;
    win::UniqueFile out(createOutput(path));
    if (!out) core::fatalMessage(1009, std::string_view("11"));
    presetSize(out.get(), length);
    // The copy reads through the same handle, so keep the reader's position in step.
    int result = copyMaskedWith(buffer, container.get(), out.get(), length, true);
    if (result != kExtractOk) {
      trimToWritten(out.get());
      logError(L"Failed to extract %S", path.c_str());
      return result;
    }
    source.seek(source.position() + uint64_t(length));
  }
  LARGE_INTEGER zero{}, now{};
  ::SetFilePointerEx(container.get(), zero, &now, FILE_CURRENT);
  // The Java side reads the rest of the installer from this position, a 32-bit number: a
  // position it cannot be given would send it to the wrong bytes.
  if (now.QuadPart > INT32_MAX) {
    logError(L"the installer's remaining data starts at %I64d, beyond what the Java side can address",
             now.QuadPart);
    return kExtractReadFailed;
  }
  gUnextractedPosition = int32_t(now.QuadPart);
  container.reset();
  logLine(L"extracting files done");
  return kExtractOk;
}

}  // namespace shipkit::payload
