#pragma once

#include "EventLog.h"
#include "Options.h"

#include <cstdio>

namespace metersim {

// Opens the ports, announces them, and runs the poll loop until a signal or the duration ends.
class Simulator {
public:
  explicit Simulator(SimOptions options) : m_options(std::move(options)) {}

  // Exit code: 0 after a clean stop, 1 when the ports, the log or Sys.ini could not be set up.
  [[nodiscard]] int run(std::FILE *out, std::FILE *err);

private:
  SimOptions m_options;
  EventLog m_log;
};

} // namespace metersim
