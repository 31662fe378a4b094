#include "jre/Download.h"

#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/Progress.h"
#include "core/RunState.h"
#include "jre/DownloadDigest.h"
#include "jre/ManualSelection.h"
#include "win/LateBound.h"

namespace shipkit::jre {

using core::logError;
using core::logLine;

namespace {

struct InternetFunctions {
  decltype(&::InternetOpenUrlW) openUrl = nullptr;
  decltype(&::InternetOpenW) open = nullptr;
  decltype(&::HttpQueryInfoW) queryInfo = nullptr;
  decltype(&::InternetAttemptConnect) attemptConnect = nullptr;
  decltype(&::InternetCloseHandle) close = nullptr;
  decltype(&::InternetReadFile) read = nullptr;
};

InternetFunctions inet;

// A Cancel stops the transfer: the progress's cancel state is read between two reads. The
// transfer marks itself running before it first reads that state, and a Cancel sets the state
// before it waits for the mark to go (both sequentially consistent), so either the transfer
// sees the Cancel or the Cancel sees the transfer and waits for its partial file to go.
std::atomic<bool> gTransferring{false};

// Marks a transfer as running unless the download was canceled.
bool beginTransfer(const core::Progress& progress) {
  gTransferring = true;
  if (!progress.canceled()) return true;
  gTransferring = false;
  return false;
}

template <typename Fn>
bool resolve(HMODULE module, const char* name, Fn& out) {
  out = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return out != nullptr;
}

bool loadInternetFunctions() {
  HMODULE module = win::systemLibrary(L"wininet.dll");
  if (!module) {
    logError(L"Could not load wininet.dll");
    return false;
  }
  bool all = resolve(module, "InternetOpenUrlW", inet.openUrl);
  all = resolve(module, "InternetOpenW", inet.open) && all;
  all = resolve(module, "HttpQueryInfoW", inet.queryInfo) && all;
  all = resolve(module, "InternetAttemptConnect", inet.attemptConnect) && all;
  all = resolve(module, "InternetCloseHandle", inet.close) && all;
  all = resolve(module, "InternetReadFile", inet.read) && all;
  if (!all) {
    logError(L"Could not load wininet functions");
    return false;
  }
  return true;
}

HINTERNET openUrl(HINTERNET session, const std::wstring& location) {
  return inet.openUrl(session, location.c_str(), nullptr, 0,
                      INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PASSIVE, 0);
}

// Whether the server answered with a success status; a page of an error status is no
// runtime archive, so it counts as a failed attempt rather than a damaged download.
bool statusAccepted(HINTERNET request) {
  DWORD status = 0, size = sizeof status;
  if (!inet.queryInfo(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return true;  // no HTTP status (another scheme): the length query decides
  if (httpStatusAccepted(status)) return true;
  logError(L"Server answered with HTTP status %d", int(status));
  return false;
}

bool copyResponseToFile(core::Progress& progress, HINTERNET session, HINTERNET request, DWORD length, const char* fileName,
                        const DownloadPolicy& policy) {
  logLine(L"file size: %d, handle %p", int(length), request);
  auto closeBoth = [&] {
    inet.close(request);
    inet.close(session);
  };
  if (!beginTransfer(progress)) {
    closeBoth();
    return false;
  }
  struct Ended {
    ~Ended() { gTransferring = false; }
  } ended;
  HANDLE file =
      ::CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    int error = int(::GetLastError());
    closeBoth();
    logError(L"opening the destination file %S failed with error code %d", fileName, error);
    return false;
  }
  auto discard = [&] {
    ::CloseHandle(file);
    ::DeleteFileA(fileName);
    closeBoth();
  };
  const std::wstring format = progress.hasDialog() ? core::message(20008) : std::wstring();
  const DWORD start = ::GetTickCount();
  DWORD lastUpdate = start;
  DWORD received = 0;
  char buffer[16384];
  while (received < length) {
    if (progress.canceled()) {
      discard();
      logLine(L"download canceled after %d of %d bytes", int(received), int(length));
      return false;
    }
    DWORD want = length - received < sizeof buffer ? length - received : DWORD(sizeof buffer);
    DWORD got = 0;
    if (!inet.read(request, buffer, want, &got)) {
      int error = int(::GetLastError());
      discard();
      logError(L"InternetReadFile failed with error code %d", error);
      return false;
    }
    if (got == 0) {
      // The server closed the connection before the announced length.
      discard();
      logError(L"connection closed after %d of %d bytes", int(received), int(length));
      return false;
    }
    DWORD written = 0;
    if (!::WriteFile(file, buffer, got, &written, nullptr) || written != got) {
      int error = int(::GetLastError());
      discard();
      logError(L"writing the destination file %S failed with error code %d", fileName, error);
      return false;
    }
    received += got;
    DWORD now = ::GetTickCount();
    if (progress.hasDialog() && now - lastUpdate > DWORD(policy.progressIntervalMs)) {
      lastUpdate = now;
      progress.setStatusText(progressText(format, received, length, now - start));
      progress.setPosition(int(progressPercent(received, length)));
    }
  }
  ::CloseHandle(file);
  closeBoth();
  logLine(L"download successful");
  return true;
}

}  // namespace

DownloadPolicy downloadPolicy() {
  char overrides[64] = {};
  DWORD n = ::GetEnvironmentVariableA("SHIPKIT_DOWNLOAD_POLICY", overrides, sizeof overrides);
  return parseDownloadPolicy(n > 0 && n < sizeof overrides ? std::string_view(overrides, n)
                                                           : std::string_view());
}

bool fetchUrl(core::Progress& progress, const std::wstring& location, const char* fileName,
              const DownloadPolicy& policy) {
  progress.setStatusText(core::message(20009));
  if (DWORD result = inet.attemptConnect(0); result != 0)
    logError(L"InternetAttemptConnect returned %d", int(result));
  HINTERNET session = inet.open(L"shipkit download agent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session) {
    logError(L"InternetOpen failed with error code %d", int(::GetLastError()));
    return false;
  }
  HINTERNET request = openUrl(session, location);
  if (!request) {
    logError(L"InternetOpenUrl failed with error code %d", int(::GetLastError()));
    inet.close(session);
    return false;
  }
  DWORD length = 0;
  for (int tries = 1;; ++tries) {
    if (!statusAccepted(request)) {
      inet.close(request);
      inet.close(session);
      return false;
    }
    DWORD size = sizeof length;
    if (inet.queryInfo(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr))
      break;
    logError(L"HttpQueryInfo (try %d) failed with error code %d", tries, int(::GetLastError()));
    ::Sleep(DWORD(policy.queryPauseMs));
    inet.close(request);
    request = openUrl(session, location);
    if (!request) {
      logError(L"InternetOpenUrl 2 failed with error code %d", int(::GetLastError()));
      inet.close(session);
      return false;
    }
    if (tries >= policy.lengthQueries) {
      logError(L"Giving up");
      inet.close(request);
      inet.close(session);
      return false;
    }
  }
  return copyResponseToFile(progress, session, request, length, fileName, policy);
}

void awaitCanceledTransfer() {
  // The transfer stops after its current read and deletes its partial file; the bound keeps
  // a read that never returns from holding up the end of the run.
  // The wait runs on the dialog's thread: the messages the transfer sends to the dialog (its
  // status text) are answered meanwhile, or the transfer would wait for the wait.
  for (int waited = 0; gTransferring && waited < 5000; waited += 10) {
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
  }
}

bool downloadWithRetries(core::Progress& progress, const std::wstring& location) {
  const DownloadPolicy policy = downloadPolicy();
  progress.setMainText(core::message(20001));
  progress.setButtonText(core::message(20012));
  progress.showStatus(true);
  if (!loadInternetFunctions()) core::fatalMessage(20002);
  const RuntimeDigest pin = configuredRuntimeDigest();
  for (int attempt = 1;; ++attempt) {
    if (fetchUrl(progress, location, "jre.tar.gz", policy) && verifyDownload(pin, "jre.tar.gz")) break;
    if (progress.canceled()) return false;
    ::Sleep(DWORD(policy.attemptPauseMs));
    logError(L"Retry JRE download");
    if (attempt >= policy.attempts) core::fatalMessage(20003);
  }
  progress.showStatus(false);
  return true;
}

bool downloadRuntime(core::Progress& progress) {
  core::RunState& rs = core::runState();
  const std::wstring location = core::configWString(150, 6000);
  const bool offered = !location.empty();
  logLine(L"Download location: %s", location.c_str());
  bool download = core::configInt(157) != 0;
  if (!download) download = showSelectionDialog(progress.owner(), offered) == kSelectionDownload;
  if (download) {
    if (!::SetCurrentDirectoryA(rs.extractionDir.c_str()))
      logError(L"Could not change working dir to %S (%d)", rs.extractionDir.c_str(), int(::GetLastError()));
    logLine(L"Downloading JRE");
    if (!downloadWithRetries(progress, location)) return false;
    logLine(L"Done");
    rs.runtimeArchivePresent = true;
  }
  if (rs.startWithoutDialog) progress.end();
  return true;
}

}  // namespace shipkit::jre
