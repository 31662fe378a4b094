#include "jre/DownloadDigest.h"

#include <windows.h>
// windows.h before bcrypt.h
#include <bcrypt.h>

#include <string>
#include <vector>

#include "core/Config.h"
#include "core/Log.h"
#include "win/LateBound.h"
#include "win/Unique.h"

namespace shipkit::jre {

using core::logError;
using core::logLine;

namespace {

win::LateBound<decltype(&::BCryptOpenAlgorithmProvider)> openProvider(L"bcrypt.dll",
                                                                      "BCryptOpenAlgorithmProvider");
win::LateBound<decltype(&::BCryptCloseAlgorithmProvider)> closeProvider(L"bcrypt.dll",
                                                                        "BCryptCloseAlgorithmProvider");
win::LateBound<decltype(&::BCryptCreateHash)> createHash(L"bcrypt.dll", "BCryptCreateHash");
win::LateBound<decltype(&::BCryptHashData)> hashData(L"bcrypt.dll", "BCryptHashData");
win::LateBound<decltype(&::BCryptFinishHash)> finishHash(L"bcrypt.dll", "BCryptFinishHash");
win::LateBound<decltype(&::BCryptDestroyHash)> destroyHash(L"bcrypt.dll", "BCryptDestroyHash");

// The archive that passed its check stays open without write or delete sharing until it has
// been unpacked: the extraction directory is writable by the user, and an installer running
// elevated must unpack exactly the bytes it hashed, not a file swapped in after the check.
win::UniqueFile gVerifiedArchive;

bool failed(NTSTATUS status, const wchar_t* call) {
  if (BCRYPT_SUCCESS(status)) return false;
  logError(L"%s failed with status 0x%08X", call, unsigned(status));
  return true;
}

// Hashes the open file to its end; false (logged) on a CNG or read failure.
bool hashFile(HANDLE file, const char* fileName, Sha256& digest) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (failed(openProvider.get()(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
             L"BCryptOpenAlgorithmProvider"))
    return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = !failed(createHash.get()(algorithm, &hash, nullptr, 0, nullptr, 0, 0), L"BCryptCreateHash");
  std::vector<unsigned char> buffer(65536);
  while (ok) {
    DWORD got = 0;
    if (!::ReadFile(file, buffer.data(), DWORD(buffer.size()), &got, nullptr)) {
      logError(L"reading %S for its SHA-256 failed with error code %d", fileName, int(::GetLastError()));
      ok = false;
    } else if (got == 0) {
      ok = !failed(finishHash.get()(hash, digest.data(), ULONG(digest.size()), 0), L"BCryptFinishHash");
      break;
    } else {
      ok = !failed(hashData.get()(hash, buffer.data(), got, 0), L"BCryptHashData");
    }
  }
  if (hash) destroyHash.get()(hash);
  closeProvider.get()(algorithm, 0);
  return ok;
}

}  // namespace

RuntimeDigest configuredRuntimeDigest() {
  RuntimeDigest pin = parseRuntimeDigest(core::configString(170));
  if (pin.state == RuntimeDigest::State::Absent)
    logLine(L"Download not verified: no SHA-256 of the runtime archive is configured");
  return pin;
}

void releaseVerifiedArchive() { gVerifiedArchive.reset(); }

std::optional<Sha256> sha256OfFile(const char* fileName, win::UniqueFile* keep) {
  if (!openProvider.available() || !closeProvider.available() || !createHash.available() ||
      !hashData.available() || !finishHash.available() || !destroyHash.available()) {
    logError(L"Could not load the SHA-256 functions of bcrypt.dll");
    return std::nullopt;
  }
  // Nobody may write to the file while it is hashed.
  HANDLE file = ::CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    logError(L"opening %S for its SHA-256 failed with error code %d", fileName, int(::GetLastError()));
    return std::nullopt;
  }
  win::UniqueFile owned(file);
  Sha256 digest{};
  if (!hashFile(file, fileName, digest)) return std::nullopt;
  if (keep) *keep = std::move(owned);
  return digest;
}

bool verifyDownload(const RuntimeDigest& pin, const char* fileName) {
  if (pin.state == RuntimeDigest::State::Absent) return true;
  bool accepted = false;
  win::UniqueFile held;
  if (pin.state == RuntimeDigest::State::Malformed) {
    logError(L"The configured SHA-256 of the runtime archive is not 64 hex digits: the download is refused");
  } else if (std::optional<Sha256> actual = sha256OfFile(fileName, &held); !actual) {
    logError(L"The SHA-256 of %S could not be computed: the download is refused", fileName);
  } else if (digestAccepts(pin, *actual)) {
    logLine(L"SHA-256 of %S verified: %S", fileName, digestHex(*actual).c_str());
    accepted = true;
    gVerifiedArchive = std::move(held);
  } else {
    logError(L"SHA-256 of %S is %S, expected %S", fileName, digestHex(*actual).c_str(),
             digestHex(pin.value).c_str());
  }
  held.reset();
  if (!accepted && !::DeleteFileA(fileName))
    logError(L"deleting %S failed with error code %d", fileName, int(::GetLastError()));
  return accepted;
}

}  // namespace shipkit::jre
