#include "Options.h"
#include "Simulator.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  metersim::ParseOutcome outcome = metersim::parseOptions(args);
  switch (outcome.status) {
  case metersim::ParseOutcome::Status::Help:
    std::fputs(metersim::usageText().c_str(), stdout);
    return 0;
  case metersim::ParseOutcome::Status::Error:
    std::fprintf(stderr, "meter-sim: %s\nTry 'meter-sim --help'.\n", outcome.error.c_str());
    return 2;
  case metersim::ParseOutcome::Status::Run:
    break;
  }
  metersim::Simulator simulator(std::move(outcome.options));
  return simulator.run(stdout, stderr);
}
