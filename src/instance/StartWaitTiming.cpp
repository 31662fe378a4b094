#include "instance/StartWaitTiming.h"

namespace shipkit::instance {

StartWaitTiming startWaitTiming() {
  return {};
}

}  // namespace shipkit::instance
