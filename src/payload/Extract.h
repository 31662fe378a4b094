#pragma once
// Extraction of the payload files into the extraction directory.

#include <windows.h>

#include <cstdint>
#include <string_view>

#include "core/Progress.h"

namespace shipkit::payload {

enum ExtractResult : int { kExtractOk = 0, kExtractReadFailed = 1, kExtractWriteFailed = 2, kExtractCanceled = 3 };

// Extracts the first N (entry 2002) names of entry 2003 from the container; records the
// unextracted position on success. Stops between two files once `progress` is canceled.
// SHIPKIT_EXTRACTION_HOLD=N (tests) holds the extraction after N files until a Cancel, at
// most 10 s, so that a Cancel can be pressed while files are extracted.
int extractPayload(const core::Progress& progress);
// Absolute offset after the last record read; 0 until a walk has completed.
int32_t unextractedPosition();
// Copies `length` bytes from `source` to `target` in chunks, unmasking when asked.
int copyMasked(HANDLE source, HANDLE target, int64_t length, bool unmask);

// A payload name that stays inside the extraction directory: relative, no drive, no
// "..", no empty or "." component, at most one directory level.
bool isSafePayloadName(std::string_view name);

}  // namespace shipkit::payload
