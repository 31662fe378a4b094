#pragma once

namespace shipkit::instance {

// Single-instance handling; may end the process with code 0 when another instance runs.
void singleInstance();

}  // namespace shipkit::instance
