#pragma once
// The runtime steps of the main work: finding, provisioning and starting a Java runtime.

#include <windows.h>

#include <string>
#include <vector>

#include "core/Progress.h"

namespace shipkit::launcher {

// Runs the configured runtime search; true when a runtime was found and loaded.
bool searchRuntime();
// Downloads a runtime or lets the user pick one (with the progress dialog, or none); false
// when the download was canceled.
bool downloadRuntime(core::Progress& progress);
// After a Cancel: a running download has stopped and its partial file is gone when this returns.
void stopDownload();
// The progress position from which the wait for the Java window animates.
void setProgressBase(int base);
// Unpacks and uses the shipped runtime archive.
void unpackShippedRuntime(core::Progress& progress);
// Uses the runtime already unpacked by an earlier run (language restart).
void useUnpackedRuntime();
// Restores a pack200-packed payload file.
void unpackPack200(const std::string& path);
// Starts the thread that waits for the Java side's first window.
void startStartWait(core::Progress& progress);
// Creates the Java virtual machine and calls the installer's main; false when it cannot start.
bool launchJvm(const std::vector<std::wstring>& arguments);

}  // namespace shipkit::launcher
