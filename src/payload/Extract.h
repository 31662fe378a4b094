#pragma once
// Extraction of the payload files into the extraction directory.

#include <windows.h>

#include <cstdint>
#include <string_view>

namespace shipkit::payload {

enum ExtractResult : int { kExtractOk = 0, kExtractReadFailed = 1, kExtractWriteFailed = 2 };

// Extracts the first N (entry 2002) names of entry 2003 from the container; records the
// unextracted position on success.
int extractPayload();
// Absolute offset after the last record read; 0 until a walk has completed.
int32_t unextractedPosition();
// Copies `length` bytes from `source` to `target` in chunks, unmasking when asked.
int copyMasked(HANDLE source, HANDLE target, int64_t length, bool unmask);

// A payload name that stays inside the extraction directory: relative, no drive, no
// "..", no empty or "." component, at most one directory level.
bool isSafePayloadName(std::string_view name);

}  // namespace shipkit::payload
