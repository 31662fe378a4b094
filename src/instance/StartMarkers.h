#pragma once
// The registry start markers that say an installer has been started and has not yet come
// up: HKCU "SOFTWARE\larkfield\jarwrap\" values "InstallStarted" (general) and
// "InstallStarted_<pid>" (this process). The launcher writes 1, the Java side 2 once it runs.

#include <windows.h>

#include <string>

namespace shipkit::instance {

// For each selected marker: set it to 1 (set = true) or delete it, when this run set it (a
// run that set none touches none). Nothing in a language restart. Once a marker is set, the
// fatal-exit path clears what this run set, until the markers are handed over.
void setStartMarkers(bool set, bool perProcess, bool general);
// The markers set before the search and before the launch: the general one, and the
// per-process one only when a progress window exists.
void setStartMarkers(bool withWindow);
// Clears the markers this run set (no runtime, failed search, an orderly exit).
void clearStartMarkers();
// Clears them for good: the run was canceled and the process is ending, so a work thread
// that is still running must not set them again.
void cancelStartMarkers();
// The Java side runs from here on and changes the markers itself: exits no longer clear them.
void handOverStartMarkers();

// Set creates the key and writes the DWORD 1; clear deletes the value. Registry failures are ignored.
void writeMarkerValue(bool set, const std::wstring& name);
// The DWORD of the per-process or the general marker; 0 when missing.
DWORD readStartMarker(bool perProcess);
// "InstallStarted_<pid>" for this process.
std::wstring perProcessMarkerName();

}  // namespace shipkit::instance
