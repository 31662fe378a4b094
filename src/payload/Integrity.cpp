#include "payload/Integrity.h"

#include <zlib.h>

#include <vector>

#include "core/CommonControls.h"
#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/Progress.h"
#include "core/RunState.h"
#include "payload/Container.h"

namespace shipkit::payload {

// The shared services (log, configuration, paths, run state, error display).
using namespace core;

using core::logError;
using core::logLine;

namespace {
// Read in large chunks: the CRC pass is bound by the number of reads, not by memory.
constexpr DWORD kChunk = 1 << 20;
}  // namespace

void verifyIntegrity(core::Progress& progress) {
  win::UniqueFile file = openOwnExecutable();
  FileSource source(file.get());
  ContainerReader reader(source);
  uint64_t start = seekToContainer(reader);
  logLine(L"starting at %d", int(start));
  uint32_t computed = 0, expected = 1;
  int32_t magic = 0;
  if (!reader.readInt(magic)) failRead(reader);
  if (uint32_t(magic) == kContainerMagic) {
    expected = 0;
    int32_t flag = 0;
    bool checked = false;
    if (core::runState().integrityCheck) {
      if (!reader.readInt(flag)) failRead(reader);
      if (flag != 0) {
        int32_t crcField = 0;
        int64_t length = 0;
        if (!reader.readInt(crcField) || !reader.readLong(length)) failRead(reader);
        expected = uint32_t(crcField);
        logLine(L"verifying integrity length %I64d", length);
        std::vector<unsigned char> buffer(kChunk);
        uLong crc = crc32(0L, Z_NULL, 0);
        int64_t done = 0;
        int lastPercent = 0;
        while (done < length) {
          DWORD want = DWORD(std::min<int64_t>(length - done, kChunk));
          DWORD got = 0;
          BOOL ok = ::ReadFile(file.get(), buffer.data(), want, &got, nullptr);
          if (!ok || got == 0) {
            logError(L"check ReadFile failed %d %d %I64d", int(got), int(::GetLastError()), done);
            core::fatalMessage(1009, std::string_view("34"));
          }
          crc = crc32(crc, buffer.data(), got);
          done += got;
          if (int percent = int(done * 100 / length); percent > lastPercent) {
            lastPercent = percent;
            progress.setPosition(percent);
          }
        }
        computed = uint32_t(crc);
        logLine(L"checksums: %u %u %d %d", computed, expected, int(computed), int(expected));
        checked = true;
      }
    }
    if (!checked) {
      progress.setRange(100, 400);
      progress.setPosition(101);
    }
  }
  file.reset();
  if (computed != expected) {
    ensureCommonControls();
    ::MessageBoxW(progress.owner(), message(20016).c_str(), message(20013).c_str(), MB_ICONERROR | MB_OK);
    core::fatalExit(1);
  }
}

}  // namespace shipkit::payload
