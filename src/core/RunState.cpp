#include "core/RunState.h"

namespace shipkit::core {

RunState& runState() {
  static RunState state;
  return state;
}

const wchar_t* productNameW() {
  return runState().launcherKind == 'e' ? L"jarwrap" : L"shipkit";
}
const char* productName() {
  return runState().launcherKind == 'e' ? "jarwrap" : "shipkit";
}

}  // namespace shipkit::core
