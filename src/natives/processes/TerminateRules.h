#pragma once
// Decisions of terminateProcesses0 that do not need Windows: its status codes, the groups
// in which the polite mode waits for the processes, and the time left for each group.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace shipkit::natives {

// Results of terminateProcesses0.
inline constexpr int kTerminateDone = 1;         // all ended (or were killed)
inline constexpr int kTerminateNotClosable = 0;  // no visible window, a failed post, a failed kill
inline constexpr int kTerminateWaitFailed =
    2;                                        // a process could not be opened for waiting, or the wait failed
inline constexpr int kTerminateTimedOut = 3;  // the time-out elapsed first

// The most handles one wait can take (the system's MAXIMUM_WAIT_OBJECTS).
inline constexpr std::size_t kMaxWaitHandles = 64;

// A time-out that never elapses (the system's INFINITE).
inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

// Index ranges [first, second) of at most kMaxWaitHandles each, covering 0..count in order.
std::vector<std::pair<std::size_t, std::size_t>> waitGroups(std::size_t count);

// Whether a listed process may be ended. Never the launcher's own: killing it would end the
// installer with an exit code that looks like success, and a polite wait for itself could only
// run out the time-out. The own process counts as one that could not be ended (status 0).
bool mayEnd(std::uint32_t processId, std::uint32_t ownProcessId);

// Status after the close requests were posted: 0 when a post failed or a listed process had
// no visible top-level window; otherwise 1 (the wait may begin).
int closeRequestStatus(const std::vector<bool>& found, bool postFailed);

enum class WaitOutcome { AllEnded, TimedOut, Failed };
int waitStatus(WaitOutcome outcome);

// The time left of a time-out after `elapsedMs`, for the next group's wait: never below 0,
// and a time-out that never elapses stays so.
std::uint32_t remainingTimeout(std::uint32_t timeoutMs, std::uint64_t elapsedMs);

}  // namespace shipkit::natives
