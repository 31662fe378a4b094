#pragma once
// Restoring pack200-packed jar files ("x.jar.pack" becomes "x.jar") with the runtime's own
// "bin\unpack200.exe", one process at a time, and the progress display while that runs.

#include <windows.h>

#include <string>

#include "core/Progress.h"

namespace shipkit::jre {

// Unpacks every packed jar in "lib" and "lib\ext" of a runtime home whose jar does not
// exist yet; announces the work once per home.
void unpackRuntimeJars(const std::string& home);

// Runs the home's unpacker on one packed file (its target is the path without ".pack"),
// waits for it and deletes the packed file once the unpacker succeeded (exit code 0); after
// a failure the packed file stays and a partial target is removed. Ends the process with message 1009 "20" when
// the unpacker cannot be started.
void unpackPackedJar(const std::string& home, const std::string& packed);

// Moves the progress bar from 200 towards 300 in ten steps of a tenth of the untar
// duration each, until the pack200 step is done. Runs on its own thread.
void startPack200Progress(core::Progress& progress, DWORD untarDuration);
void stopPack200Progress();

}  // namespace shipkit::jre
