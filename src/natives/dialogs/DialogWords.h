#pragma once
// The option words and result values of the native dialogs: the task dialog's flags and
// result, the file dialog's options, the object picker's scope and filters.

#include <cstdint>

namespace shipkit::natives {

// Task dialog flags: the caller's flags with a handle main icon and the timer callback,
// positioned over the parent when it exists and is not minimised.
std::int32_t taskDialogFlags(std::int32_t flags, bool hasParent, bool parentMinimised);

inline constexpr int kFirstCustomButtonId = 101;
inline constexpr int kNoCustomButton = 1000;

// The 1-based index of the pressed custom button, 1000 for none; negated when the
// verification box was ticked.
int taskDialogResult(int pressedId, bool verificationTicked);

// The SetWindowPos flags of the timer callback's n-th call (counting from 0): no size, no
// move, and from the sixth call on no activation.
std::uint32_t keepAboveFlags(int tick);

// The file dialog's options after the caller's changes.
std::uint32_t fileDialogOptions(std::uint32_t current, std::int32_t toSet, std::int32_t toClear);

struct PickerWords {
  std::uint32_t scopeType;
  std::uint32_t scopeFlags;
  std::uint32_t uplevelFilter;
  std::uint32_t downlevelFilter;
  std::uint32_t options;
};
PickerWords pickerWords(bool multiSelect, bool groups, bool users, bool wellKnownPrincipals,
                        bool localComputerOnly);

}  // namespace shipkit::natives
