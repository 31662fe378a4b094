#pragma once
// The registry start markers that tell a waiting launcher the Java side is running.

namespace shipkit::instance {

void setStartMarkers(bool withWindow);
void clearStartMarkers();

}  // namespace shipkit::instance
