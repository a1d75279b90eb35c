#include <iostream>
#include <string>
#include <vector>

#include "endpoint/command_line.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return korvanel::endpoint::RunCommandLine(args, std::cout, std::cerr);
}
