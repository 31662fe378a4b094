// Feeds arbitrary bytes to the packer as a launcher stub that gets a splash image: the PE
// walk and the resource tree reader must fail cleanly, never read or allocate past the
// input. What it writes must take a second image the same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pack/StubResources.h"

using namespace shipkit::pack;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view stub(reinterpret_cast<const char*>(data), size);
  std::string once, twice, error;
  if (!addResources(stub, {{kRtRcdata, 10000, 0, "first"}}, once, error)) return 0;
  if (!addResources(once, {{kRtRcdata, 10002, 0, "second"}}, twice, error)) {
    // Only the room for one more section header or the image's size limits may run out.
    if (error.rfind("no room for another section header", 0) != 0 &&
        error.rfind("the resources do not fit", 0) != 0)
      std::abort();
  }
  return 0;
}
