#pragma once
// Answers of natives whose Windows work is not written yet. Each answers with its method's
// own failure value, so that the Java side takes its ordinary failure path.

#include <windows.h>

namespace shipkit::natives {

// A Windows error code for "not supported", for natives that report error codes.
inline constexpr long kNotImplementedError = ERROR_CALL_NOT_IMPLEMENTED;

}  // namespace shipkit::natives
