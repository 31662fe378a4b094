#pragma once
// Decisions of the service control natives, without system calls: the account a service runs
// as, the dependency list handed to the service manager, the failure actions of a restart
// configuration, and when the wait after a stop request ends.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shipkit::natives {

// The launcher's own code for "the service control manager could not be opened".
inline constexpr int kNoServiceManager = 5000;
// Outcomes of the wait after a stop request: the service did not stop in time, or its
// status could not be read.
inline constexpr int kStopTimedOut = 50001;
inline constexpr int kStopStatusUnknown = 50002;

// The account passed to the service manager: "NT AUTHORITY\System" and
// "NT AUTHORITY\LocalSystem" (exactly, case-sensitive) become "LocalSystem"; anything else,
// and no account (no change), stays as it is.
std::optional<std::wstring> serviceAccount(std::optional<std::wstring_view> account);

// The comma-separated dependency names as a list of zero-terminated names ended by one more
// zero. Empty names (consecutive, leading or trailing commas) are dropped; no names give the
// two zeros that remove every dependency. The list is as long as it needs to be.
std::wstring dependencyList(std::wstring_view commaSeparated);

// One action of a service's failure-action list.
struct FailureAction {
  enum Type : std::uint32_t { None = 0, Restart = 1 };
  Type type;
  std::uint32_t delayMillis;
  bool operator==(const FailureAction&) const = default;
};

// The failure actions and reset period of a restart configuration. With restart: `restartCount`
// restarts followed by one no-action with the same delay, or a single restart when the count is
// 0 (a negative count counts as 0). Without restart: no actions, which clears the configuration.
struct FailureActions {
  std::uint32_t resetPeriodSeconds;
  std::vector<FailureAction> actions;
};
FailureActions failureActions(bool restart, std::int32_t delayMillis, std::int32_t restartCount,
                              std::int32_t resetPeriodSeconds);

// The wait after a stop request, in unsigned 32-bit millisecond ticks (a tick count that wraps
// around keeps working). The wait goes on while the service advances its check point, or while
// either its wait hint (counted from its last progress) or the caller's time-out (counted from
// the start) has not run out.
class StopWait {
 public:
  enum class Verdict { Stopped, KeepWaiting, TimedOut };

  StopWait(std::uint32_t now, std::uint32_t checkPoint, std::uint32_t timeoutMillis)
      : start_(now), progress_(now), checkPoint_(checkPoint), timeout_(timeoutMillis) {}

  // The verdict on a status read at tick `now`.
  Verdict next(std::uint32_t now, bool stopped, std::uint32_t checkPoint, std::uint32_t waitHint);

 private:
  std::uint32_t start_;
  std::uint32_t progress_;
  std::uint32_t checkPoint_;
  std::uint32_t timeout_;
};

}  // namespace shipkit::natives
