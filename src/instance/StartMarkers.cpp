#include "instance/StartMarkers.h"

#include "core/ErrorDisplay.h"
#include "core/RunState.h"
#include "win/Unique.h"

namespace shipkit::instance {

namespace {

constexpr wchar_t kMarkerKey[] = L"SOFTWARE\\larkfield\\jarwrap\\";
constexpr wchar_t kGeneralMarker[] = L"InstallStarted";

// Held while markers are written, so that a cancel cannot fall between a work thread's
// check of the flag and its write.
SRWLOCK gMarkerLock = SRWLOCK_INIT;
bool gCanceled = false;
// The markers this run set and has not cleared: a run clears only its own, since the general
// marker may belong to another run that is still starting.
bool gOwnPerProcess = false;
bool gOwnGeneral = false;
// Once the Java side runs, the markers are its to change; an exit no longer clears them.
bool gHandedOver = false;

// With the lock held.
void clearOwned(bool perProcess, bool general) {
  if (perProcess && gOwnPerProcess) {
    writeMarkerValue(false, perProcessMarkerName());
    gOwnPerProcess = false;
  }
  if (general && gOwnGeneral) {
    writeMarkerValue(false, kGeneralMarker);
    gOwnGeneral = false;
  }
}

void clearBeforeExit() {
  ::AcquireSRWLockExclusive(&gMarkerLock);
  if (!gHandedOver) clearOwned(true, true);
  ::ReleaseSRWLockExclusive(&gMarkerLock);
}

}  // namespace

std::wstring perProcessMarkerName() {
  // "%s_%d" of the general name and the process id.
  return std::wstring(kGeneralMarker) + L"_" + std::to_wstring(::GetCurrentProcessId());
}

void writeMarkerValue(bool set, const std::wstring& name) {
  win::UniqueHkey key;
  if (set) {
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kMarkerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS)
      return;
    DWORD value = 1;
    ::RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
  } else {
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kMarkerKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return;
    ::RegDeleteValueW(key.get(), name.c_str());
  }
}

DWORD readStartMarker(bool perProcess) {
  std::wstring name = perProcess ? perProcessMarkerName() : std::wstring(kGeneralMarker);
  DWORD value = 0;
  DWORD size = sizeof value;
  if (::RegGetValueW(HKEY_CURRENT_USER, kMarkerKey, name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS)
    return 0;
  return value;
}

void setStartMarkers(bool set, bool perProcess, bool general) {
  if (core::runState().languageRestart) return;
  ::AcquireSRWLockExclusive(&gMarkerLock);
  if (!set) {
    clearOwned(perProcess, general);
  } else if (!gCanceled) {
    if (perProcess) writeMarkerValue(true, perProcessMarkerName());
    if (general) writeMarkerValue(true, kGeneralMarker);
    gOwnPerProcess = gOwnPerProcess || perProcess;
    gOwnGeneral = gOwnGeneral || general;
    core::setExitCleanup(&clearBeforeExit);
  }
  ::ReleaseSRWLockExclusive(&gMarkerLock);
}

void handOverStartMarkers() {
  ::AcquireSRWLockExclusive(&gMarkerLock);
  gHandedOver = true;
  ::ReleaseSRWLockExclusive(&gMarkerLock);
}

void setStartMarkers(bool withWindow) {
  setStartMarkers(true, withWindow, true);
}

void clearStartMarkers() {
  setStartMarkers(false, true, true);
}

void cancelStartMarkers() {
  ::AcquireSRWLockExclusive(&gMarkerLock);
  gCanceled = true;
  ::ReleaseSRWLockExclusive(&gMarkerLock);
  clearStartMarkers();
}

}  // namespace shipkit::instance
