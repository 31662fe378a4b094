// A process with top-level windows for the process and window natives' tests.
//
//   testwindow.exe MODE TITLE EVENT [SECONDS]
// MODE titled    one visible window titled TITLE; WM_CLOSE ends the process
//      hidden    one hidden window titled TITLE (nothing visible)
//      stubborn  one visible window titled TITLE that ignores WM_CLOSE
//      untitled  one visible window without a title
// Sets the named event EVENT once the window exists, and ends by itself after SECONDS
// (default 60) so that a failed test leaves nothing running. Exit codes: 2 bad arguments,
// 3 no window class, 5 no window, 4 the time ran out.
// clang-format off
#include <windows.h>
#include <shellapi.h>  // needs windows.h first
// clang-format on

#include <cwchar>
#include <string>

namespace {

bool ignoreClose = false;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      if (!ignoreClose) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_TIMER:
      ExitProcess(4);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return 2;
  if (argc < 4) return 2;
  const std::wstring mode = argv[1];
  const wchar_t* title = mode == L"untitled" ? L"" : argv[2];
  ignoreClose = mode == L"stubborn";
  const UINT seconds = argc > 4 ? UINT(std::wcstoul(argv[4], nullptr, 10)) : 60;

  WNDCLASSW cls{};
  cls.lpfnWndProc = windowProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"ShipkitTestWindow";
  if (!RegisterClassW(&cls)) return 3;
  // The first window of a process connects it to the desktop; under Wine that connection can
  // fail for a moment while the desktop process of the prefix ends or starts, so the creation
  // is tried again for up to two seconds before the helper gives up.
  HWND window = nullptr;
  for (int attempt = 0; attempt < 40 && !window; ++attempt) {
    if (attempt > 0) Sleep(50);
    window = CreateWindowExW(0, cls.lpszClassName, title, WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                             nullptr, cls.hInstance, nullptr);
  }
  if (!window) return 5;
  if (mode != L"hidden") ShowWindow(window, SW_SHOWNORMAL);
  SetTimer(window, 1, seconds * 1000, nullptr);

  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
  if (ready) {
    SetEvent(ready);
    CloseHandle(ready);
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
