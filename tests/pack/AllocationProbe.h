#pragma once
// Records the largest single operator-new request made while a probe is active, so a
// test can show that a hostile length never turns into a large allocation.

#include <cstddef>

namespace shipkit::pack::test {

class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();
  std::size_t largest() const;
};

}  // namespace shipkit::pack::test
