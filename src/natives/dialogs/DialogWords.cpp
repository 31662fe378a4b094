#include "natives/dialogs/DialogWords.h"

namespace shipkit::natives {

namespace {
constexpr std::int32_t kUseHiconMain = 0x2;            // TDF_USE_HICON_MAIN
constexpr std::int32_t kCallbackTimer = 0x800;         // TDF_CALLBACK_TIMER
constexpr std::int32_t kRelativeToWindow = 0x1000;     // TDF_POSITION_RELATIVE_TO_WINDOW
constexpr std::uint32_t kNoSize = 0x1, kNoMove = 0x2;  // SWP_NOSIZE, SWP_NOMOVE
constexpr std::uint32_t kNoActivate = 0x10;            // SWP_NOACTIVATE
}  // namespace

std::int32_t taskDialogFlags(std::int32_t flags, bool hasParent, bool parentMinimised) {
  std::int32_t result = flags | kUseHiconMain | kCallbackTimer;
  if (hasParent && !parentMinimised) result |= kRelativeToWindow;
  return result;
}

int taskDialogResult(int pressedId, bool verificationTicked) {
  const int result =
      pressedId > kFirstCustomButtonId - 1 ? pressedId - (kFirstCustomButtonId - 1) : kNoCustomButton;
  return verificationTicked ? -result : result;
}

std::uint32_t keepAboveFlags(int tick) {
  return kNoSize | kNoMove | (tick >= 5 ? kNoActivate : 0);
}

std::uint32_t fileDialogOptions(std::uint32_t current, std::int32_t toSet, std::int32_t toClear) {
  return (current | std::uint32_t(toSet)) & ~std::uint32_t(toClear);
}

PickerWords pickerWords(bool multiSelect, bool groups, bool users, bool wellKnownPrincipals,
                        bool localComputerOnly) {
  PickerWords w{};
  // DSOP_SCOPE_TYPE_TARGET_COMPUTER alone, or with the joined, enterprise, global-catalog,
  // external and user-entered domain scopes.
  w.scopeType = localComputerOnly ? 0x1 : 0x36F;
  w.scopeFlags = 0xC0;  // DSOP_SCOPE_FLAG_DEFAULT_FILTER_USERS | _GROUPS
  // Built-in, universal, global and domain-local groups, distribution and security; users;
  // well-known principals.
  w.uplevelFilter = (groups ? 0x3F4u : 0) | (users ? 0x2u : 0) | (wellKnownPrincipals ? 0x8u : 0);
  w.downlevelFilter = (groups ? 0x80000006u : 0) | (users ? 0x80000001u : 0);
  if (wellKnownPrincipals) {
    // All well-known SIDs with groups; otherwise only the system and service accounts.
    w.downlevelFilter |= groups ? 0x80020000u : 0x800C4000u;
  }
  w.options = multiSelect ? 0x1 : 0;  // DSOP_FLAG_MULTISELECT
  return w;
}

}  // namespace shipkit::natives
