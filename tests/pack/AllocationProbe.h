#pragma once
// Records the largest single operator-new request made while a probe is active, and the sum
// of all of them, so a test can show that hostile input never turns into a large allocation
// nor into many small ones.

#include <cstddef>

namespace shipkit::pack::test {

class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();
  std::size_t largest() const;
  std::size_t total() const;
};

}  // namespace shipkit::pack::test
