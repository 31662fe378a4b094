#include "AllocationProbe.h"

#include <cstdlib>
#include <new>

namespace {
bool active = false;
std::size_t largestRequest = 0;
std::size_t totalRequested = 0;

void* allocate(std::size_t n) {
  if (active && n > largestRequest) largestRequest = n;
  if (active) totalRequested += n;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) {
  return allocate(n);
}
void* operator new[](std::size_t n) {
  return allocate(n);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace shipkit::pack::test {

AllocationProbe::AllocationProbe() {
  largestRequest = 0;
  totalRequested = 0;
  active = true;
}
AllocationProbe::~AllocationProbe() {
  active = false;
}
std::size_t AllocationProbe::largest() const {
  return largestRequest;
}
std::size_t AllocationProbe::total() const {
  return totalRequested;
}

}  // namespace shipkit::pack::test
