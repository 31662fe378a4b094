#pragma once

namespace shipkit::instance {

// Single-instance handling; may end the process with code 0 when another instance runs.
void singleInstance();

}  // namespace shipkit::instance

#include <string>

namespace shipkit::instance {

// The name of the instance semaphore the launcher created, or empty.
std::string semaphoreName();

}  // namespace shipkit::instance
