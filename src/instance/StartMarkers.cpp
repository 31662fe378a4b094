#include "instance/StartMarkers.h"

namespace shipkit::instance {

// The markers are not kept yet: runs behave as if the Java side never looks at them.
void setStartMarkers(bool) {}
void clearStartMarkers() {}

}  // namespace shipkit::instance
