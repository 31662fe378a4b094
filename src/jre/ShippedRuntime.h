#pragma once
// The runtime shipped in the payload as "jre.tar.gz": unpacked into "jre" below the
// extraction directory (the current directory), restored from pack200 when packed, and
// handed to the runtime search.

#include "core/Progress.h"

namespace shipkit::jre {

// The whole step; returns only when the unpacked (or another) runtime is loaded, every
// failure ends the process.
void unpackShippedRuntime(core::Progress& progress);

// Loads the runtime in "jre", else searches for another; returns only on success.
void useShippedRuntime();

}  // namespace shipkit::jre
