#include "jre/Download.h"

#include <commctrl.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/Config.h"
#include "core/DialogIds.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
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

// A Cancel of the progress dialog stops the transfer: the flag is read between two reads,
// and the lock keeps a transfer from starting once the flag is set.
std::mutex gCancelLock;
bool gCanceled = false;
std::atomic<bool> gTransferring{false};

bool canceled() {
  std::lock_guard<std::mutex> lock(gCancelLock);
  return gCanceled;
}

// Marks a transfer as running unless the download was canceled.
bool beginTransfer() {
  std::lock_guard<std::mutex> lock(gCancelLock);
  if (gCanceled) return false;
  gTransferring = true;
  return true;
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

void setStatus(HWND window, const std::wstring& text) {
  if (window) ::SetDlgItemTextW(window, core::kStatusText, text.c_str());
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

bool copyResponseToFile(HWND window, HINTERNET session, HINTERNET request, DWORD length, const char* fileName,
                        const DownloadPolicy& policy) {
  logLine(L"file size: %d, handle %p", int(length), request);
  auto closeBoth = [&] {
    inet.close(request);
    inet.close(session);
  };
  if (!beginTransfer()) {
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
  const std::wstring format = window ? core::message(20008) : std::wstring();
  const DWORD start = ::GetTickCount();
  DWORD lastUpdate = start;
  DWORD received = 0;
  char buffer[16384];
  while (received < length) {
    if (canceled()) {
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
    if (window && now - lastUpdate > DWORD(policy.progressIntervalMs)) {
      lastUpdate = now;
      setStatus(window, progressText(format, received, length, now - start));
      ::SendDlgItemMessageW(window, core::kProgressBar, PBM_SETPOS, progressPercent(received, length), 0);
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

bool fetchUrl(HWND window, const std::wstring& location, const char* fileName, const DownloadPolicy& policy) {
  setStatus(window, core::message(20009));
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
  return copyResponseToFile(window, session, request, length, fileName, policy);
}

void cancelDownload() {
  {
    std::lock_guard<std::mutex> lock(gCancelLock);
    gCanceled = true;
  }
  // The transfer stops after its current read and deletes its partial file; the bound keeps
  // a read that never returns from holding up the end of the run.
  for (int waited = 0; gTransferring && waited < 5000; waited += 10) ::Sleep(10);
}

bool downloadWithRetries(HWND window, const std::wstring& location) {
  const DownloadPolicy policy = downloadPolicy();
  if (window) {
    ::SetDlgItemTextW(window, core::kMainText, core::message(20001).c_str());
    ::SetDlgItemTextW(window, IDCANCEL, core::message(20012).c_str());
    ::ShowWindow(::GetDlgItem(window, core::kStatusText), SW_SHOW);
  }
  if (!loadInternetFunctions()) core::fatalMessage(20002);
  const RuntimeDigest pin = configuredRuntimeDigest();
  for (int attempt = 1;; ++attempt) {
    if (fetchUrl(window, location, "jre.tar.gz", policy) && verifyDownload(pin, "jre.tar.gz")) break;
    if (canceled()) return false;
    ::Sleep(DWORD(policy.attemptPauseMs));
    logError(L"Retry JRE download");
    if (attempt >= policy.attempts) core::fatalMessage(20003);
  }
  if (window) ::ShowWindow(::GetDlgItem(window, core::kStatusText), SW_HIDE);
  return true;
}

bool downloadRuntime(HWND window) {
  core::RunState& rs = core::runState();
  const std::wstring location = core::configWString(150, 6000);
  const bool offered = !location.empty();
  logLine(L"Download location: %s", location.c_str());
  bool download = core::configInt(157) != 0;
  if (!download) download = showSelectionDialog(window, offered) == kSelectionDownload;
  if (download) {
    if (!::SetCurrentDirectoryA(rs.extractionDir.c_str()))
      logError(L"Could not change working dir to %S (%d)", rs.extractionDir.c_str(), int(::GetLastError()));
    logLine(L"Downloading JRE");
    if (!downloadWithRetries(window, location)) return false;
    logLine(L"Done");
    rs.runtimeArchivePresent = true;
  }
  if (window && rs.startWithoutDialog) {
    // The dialog runs on another thread: ending it takes effect when its loop wakes up.
    ::EndDialog(window, 0);
    ::PostMessageW(window, WM_NULL, 0, 0);
  }
  return true;
}

}  // namespace shipkit::jre
