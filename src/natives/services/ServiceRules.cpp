#include "natives/services/ServiceRules.h"

namespace shipkit::natives {

std::optional<std::wstring> serviceAccount(std::optional<std::wstring_view> account) {
  if (!account) return std::nullopt;
  if (*account == L"NT AUTHORITY\\System" || *account == L"NT AUTHORITY\\LocalSystem") return L"LocalSystem";
  return std::wstring(*account);
}

std::wstring dependencyList(std::wstring_view commaSeparated) {
  std::wstring list;
  std::size_t pos = 0;
  while (pos <= commaSeparated.size()) {
    std::size_t comma = commaSeparated.find(L',', pos);
    if (comma == std::wstring_view::npos) comma = commaSeparated.size();
    if (comma > pos) {
      list.append(commaSeparated.substr(pos, comma - pos));
      list.push_back(L'\0');
    }
    pos = comma + 1;
  }
  if (list.empty()) list.push_back(L'\0');
  list.push_back(L'\0');
  return list;
}

FailureActions failureActions(bool restart, std::int32_t delayMillis, std::int32_t restartCount,
                              std::int32_t resetPeriodSeconds) {
  FailureActions result{std::uint32_t(resetPeriodSeconds), {}};
  if (!restart) return result;
  const std::uint32_t delay = std::uint32_t(delayMillis);
  if (restartCount <= 0) {
    result.actions.push_back({FailureAction::Restart, delay});
    return result;
  }
  result.actions.assign(std::size_t(restartCount), {FailureAction::Restart, delay});
  result.actions.push_back({FailureAction::None, delay});
  return result;
}

StopWait::Verdict StopWait::next(std::uint32_t now, bool stopped, std::uint32_t checkPoint,
                                 std::uint32_t waitHint) {
  if (stopped) return Verdict::Stopped;
  if (checkPoint > checkPoint_) {
    progress_ = now;
    checkPoint_ = checkPoint;
    return Verdict::KeepWaiting;
  }
  if (std::uint32_t(now - progress_) <= waitHint || std::uint32_t(now - start_) <= timeout_)
    return Verdict::KeepWaiting;
  return Verdict::TimedOut;
}

}  // namespace shipkit::natives
