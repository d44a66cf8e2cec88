#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "host_sys.h"
#include "ufhost_cli.h"

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    return ufhost::runUfhost(args, std::cin, std::cout, std::cerr, ufhost::sys::stderrIsTerminal(),
                             ufhost::sys::stdoutIsTerminal());
  } catch (const std::exception& e) {
    std::cerr << "ufhost: " << e.what() << "\n";
    return ufhost::kExitInternal;
  }
}
