#include <iostream>
#include <string>
#include <vector>

#include "pack/Cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return shipkit::pack::runCli(args, std::cout, std::cerr);
}
