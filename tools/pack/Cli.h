#pragma once
// The shipkit-pack command line, callable in-process.

#include <ostream>
#include <string>
#include <vector>

namespace shipkit::pack {

// Exit codes: build 0 done, 2 failed (bad manifest, stub, input or output);
// inspect 0 readable, 1 damaged or unreadable; 2 for a wrong command line.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace shipkit::pack
