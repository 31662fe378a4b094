#pragma once
// Unpacking a gzip-compressed tar archive through zlib's gz file functions into a target
// directory, with the progress bar at 100..200.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/Progress.h"
#include "jre/Untar.h"

namespace shipkit::jre {

// Bytes copied per read from the archive into a member file. Measured under Wine on a
// 275 MB runtime archive: 32 KiB was not slower than 256 KiB with a 128 KiB zlib buffer.
inline constexpr std::size_t kCopyBuffer = 32768;

// True when the archive ended after at least one regular file was written. Member names are
// created relative to `target`; the current directory is restored before returning. When a
// member file cannot be created, `uncreatable` holds its name.
bool untarGz(const char* archive, const char* target, core::Progress& progress, int32_t total,
             MemberName& uncreatable);

}  // namespace shipkit::jre
