#include "natives/processes/TerminateRules.h"

#include <algorithm>

namespace shipkit::natives {

std::vector<std::pair<std::size_t, std::size_t>> waitGroups(std::size_t count) {
  std::vector<std::pair<std::size_t, std::size_t>> groups;
  for (std::size_t first = 0; first < count; first += kMaxWaitHandles)
    groups.emplace_back(first, std::min(count, first + kMaxWaitHandles));
  return groups;
}

bool mayEnd(std::uint32_t processId, std::uint32_t ownProcessId) {
  return processId != ownProcessId;
}

int closeRequestStatus(const std::vector<bool>& found, bool postFailed) {
  if (postFailed) return kTerminateNotClosable;
  const bool allFound = std::all_of(found.begin(), found.end(), [](bool f) { return f; });
  return allFound ? kTerminateDone : kTerminateNotClosable;
}

int waitStatus(WaitOutcome outcome) {
  switch (outcome) {
    case WaitOutcome::AllEnded:
      return kTerminateDone;
    case WaitOutcome::TimedOut:
      return kTerminateTimedOut;
    case WaitOutcome::Failed:
      break;
  }
  return kTerminateWaitFailed;
}

std::uint32_t remainingTimeout(std::uint32_t timeoutMs, std::uint64_t elapsedMs) {
  if (timeoutMs == kWaitForever) return kWaitForever;
  return elapsedMs >= timeoutMs ? 0 : std::uint32_t(timeoutMs - elapsedMs);
}

}  // namespace shipkit::natives
