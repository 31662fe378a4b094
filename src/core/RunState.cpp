#include "core/RunState.h"

namespace shipkit::core {

RunState& runState() {
  // Never destroyed: a worker thread may still read it while the process exits.
  static RunState* state = new RunState;
  return *state;
}

const wchar_t* productNameW() {
  return runState().launcherKind == 'e' ? L"jarwrap" : L"shipkit";
}
const char* productName() {
  return runState().launcherKind == 'e' ? "jarwrap" : "shipkit";
}

}  // namespace shipkit::core
