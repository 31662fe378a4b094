#pragma once
// The check of a downloaded runtime archive against the SHA-256 the installer pins in
// configuration entry 170, hashed by Windows CNG (bcrypt.dll, looked up at run time).

#include <optional>

#include "jre/DownloadRules.h"
#include "win/Unique.h"

namespace shipkit::jre {

// The pinned digest of configuration entry 170; when none is configured this logs, once per
// call, that the download is not verified.
RuntimeDigest configuredRuntimeDigest();

// The SHA-256 of a file's content, or none (logged) when bcrypt.dll, one of its functions or
// the read fails. With `keep`, the handle it hashed through (shared for reading only) is
// handed over instead of closed.
std::optional<Sha256> sha256OfFile(const char* fileName, win::UniqueFile* keep = nullptr);

// Whether a downloaded file may be used. Without a pin it may. With one it must hash to the
// pinned digest; a file that fails (mismatch, malformed pin, no hash) is deleted and the reason
// logged, so that the attempt counts as failed.
// An accepted file stays open, shared for reading only, until releaseVerifiedArchive().
bool verifyDownload(const RuntimeDigest& pin, const char* fileName);

// Lets the verified archive be deleted again (once it is unpacked).
void releaseVerifiedArchive();

}  // namespace shipkit::jre
