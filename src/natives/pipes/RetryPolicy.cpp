#include "natives/pipes/RetryPolicy.h"

namespace shipkit::natives {

PipeTimings& pipeTimings() {
  static PipeTimings timings;
  return timings;
}

}  // namespace shipkit::natives
