#pragma once
// Natives are noexcept: a C++ exception (in practice std::bad_alloc from a container) must
// not reach the virtual machine. The body runs inside a handler that turns any exception into
// the native's failure value.

#include <utility>

namespace shipkit::natives {

template <typename Result, typename Body>
Result guarded(Result failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return failure;
  }
}

template <typename Body>
void guarded(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
  }
}

}  // namespace shipkit::natives
