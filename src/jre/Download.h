#pragma once
// Fetching a runtime archive over HTTP with WinINet (loaded by name) into "jre.tar.gz" of
// the extraction directory, with retries and progress in the progress dialog.

#include <windows.h>

#include <string>

#include "core/Progress.h"
#include "jre/DownloadRules.h"

namespace shipkit::jre {

// Decides whether to download (entry 157, else the selection dialog), downloads and marks
// the runtime archive present. Returns also when the user located a runtime instead. A
// dialog opened only for this step is ended when done. False when the download was
// canceled: the run ends.
bool downloadRuntime(core::Progress& progress);

// Up to the policy's attempts at fetching `location`; true on success, false when canceled
// (fatal messages 20002 and 20003 otherwise).
bool downloadWithRetries(core::Progress& progress, const std::wstring& location);

// After the progress was canceled: a running transfer stops after its current read and
// deletes its partial file before this returns (waiting at most 5 s); no transfer starts
// afterwards.
void awaitCanceledTransfer();

// One transfer attempt into `fileName`; a failed or canceled attempt leaves no file behind.
bool fetchUrl(core::Progress& progress, const std::wstring& location, const char* fileName, const DownloadPolicy& policy);

// The policy in force: the fixed figures, or those of SHIPKIT_DOWNLOAD_POLICY (tests).
DownloadPolicy downloadPolicy();

}  // namespace shipkit::jre
