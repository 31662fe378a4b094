#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "core/Progress.h"

namespace shipkit::launcher {

// The main work from the integrity check to the start of the Java virtual machine.
// `progress` is the progress dialog's, or core::noProgress(). Returns 0.
int runMainWork(core::Progress& progress);

}  // namespace shipkit::launcher
