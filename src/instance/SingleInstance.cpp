#include "instance/SingleInstance.h"

namespace shipkit::instance {

// Not built yet: every start runs as the only instance.
void singleInstance() {}

}  // namespace shipkit::instance

namespace shipkit::instance {

std::string semaphoreName() {
  return {};
}

}  // namespace shipkit::instance
