#pragma once
// Answers a modal dialog that the test thread is about to show: a helper thread waits (a
// bounded poll) for the top-level window with the given title and then acts on it, the way a
// user would, through messages.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace wintest {

class DialogDriver {
 public:
  DialogDriver(std::wstring title, std::function<void(HWND)> act)
      : DialogDriver([title] { return FindWindowW(nullptr, title.c_str()); }, std::move(act)) {}
  // The dialog as `find` finds it.
  DialogDriver(std::function<HWND()> find, std::function<void(HWND)> act)
      : thread_([this, find = std::move(find), act = std::move(act)] {
          for (int i = 0; i < 1000 && !stop_; ++i) {  // up to 10 s
            HWND window = find();
            if (window && IsWindowVisible(window)) {
              found_ = true;
              act(window);
              return;
            }
            Sleep(10);
          }
        }) {}
  ~DialogDriver() { finish(); }
  // Waits for the helper; whether it found the dialog.
  bool finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return found_;
  }

 private:
  std::atomic<bool> stop_{false}, found_{false};
  std::thread thread_;
};

// Child controls of a dialog, searched by class and text (all descendants).
inline HWND findChild(HWND parent, const wchar_t* className, const std::wstring& text) {
  struct Search {
    const wchar_t* cls;
    const std::wstring* text;
    HWND found;
  } search{className, &text, nullptr};
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        wchar_t cls[64] = {}, buffer[256] = {};
        GetClassNameW(child, cls, 64);
        GetWindowTextW(child, buffer, 256);
        std::wstring shown = buffer;
        std::erase(shown, L'&');
        if ((!s->cls || lstrcmpiW(cls, s->cls) == 0) && shown == *s->text) {
          s->found = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace wintest
