#pragma once
// The runtime the launcher chose and loaded: its home (the executable's directory
// followed by "..") and its version. Empty until a runtime is chosen.

#include <string>

namespace shipkit::jvm {

struct ChosenRuntime {
  std::string javaExe;
  std::string home;
  std::string version;
};

ChosenRuntime& chosenRuntime();

}  // namespace shipkit::jvm
