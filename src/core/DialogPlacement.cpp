#include "core/DialogPlacement.h"

namespace shipkit::core {

void centerOnParent(HWND window) {
  HWND parent = ::GetParent(window);
  if (!parent) parent = ::GetDesktopWindow();
  RECT p{}, w{};
  ::GetWindowRect(parent, &p);
  ::GetWindowRect(window, &w);
  int width = w.right - w.left, height = w.bottom - w.top;
  int x = p.left + ((p.right - p.left) - width) / 2;
  int y = p.top + ((p.bottom - p.top) - height) / 2;
  ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace shipkit::core
