#pragma once
// Where the launcher's dialogs appear.

#include <windows.h>

namespace shipkit::core {

// Places a window at the centre of its parent, or of the desktop when it has none.
void centerOnParent(HWND window);

}  // namespace shipkit::core
