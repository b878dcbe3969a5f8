// The `tavero` command line.
#include <iostream>
#include <string>
#include <vector>

#include "app/RunCommand.h"
#include "app/ServeCommand.h"

namespace {

void printUsage(std::ostream& out) {
  out << "usage:\n"
         "  tavero run BUNDLE [--home DIR] [--device FILE] [--headless] [--screenshot FILE]\n"
         "                                          run a web application in the shell\n"
         "  tavero serve [--port N] [--home DIR]   run the bridge without a web view\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    printUsage(args.empty() ? std::cerr : std::cout);
    return args.empty() ? 2 : 0;
  }
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "run") {
    auto options = tavero::app::parseRunOptions(args);
    return options ? tavero::app::runApplication(*options) : 2;
  }
  if (command == "serve") {
    auto options = tavero::app::parseServeOptions(args);
    return options ? tavero::app::runServe(*options) : 2;
  }
  std::cerr << "tavero: unknown command \"" << command << "\"\n";
  printUsage(std::cerr);
  return 2;
}
