#pragma once
// The two shell functions that natives call, bound late from shell32 and kept for the life
// of the process, and the one-time preload of the libraries that shell32 pulls in lazily.

#include <windows.h>

namespace shipkit::natives {

using SHChangeNotifyFn = void(WINAPI*)(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2);
using ShellExecuteWFn = HINSTANCE(WINAPI*)(HWND window, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters,
                                           LPCWSTR directory, INT showCommand);

// Loads "davhlpr.dll" and "fwbase.dll" once per process (a missing one is ignored). Start-up
// runs it early; binding the shell functions runs it again, which then does nothing.
void preloadShellHelpers();

// The bound pair; both are null when either could not be bound. Binding happens on the
// first call. Tests may replace the pointers and must put them back.
struct ShellFunctions {
  SHChangeNotifyFn changeNotify = nullptr;
  ShellExecuteWFn shellExecute = nullptr;
};
ShellFunctions& shellFunctions();

// SHChangeNotify; false (and nothing happens) when shell32 could not be bound.
bool shChangeNotify(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2);

// ShellExecuteW; 0, a failure result, when shell32 could not be bound.
HINSTANCE shellExecute(HWND window, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                       INT showCommand);

}  // namespace shipkit::natives
