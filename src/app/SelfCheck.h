#pragma once

#include "app/ProgramPaths.h"

#include <QString>

// zervo-daq --self-check: after a normal start, what an installation check needs to know
// without a user: which folders the program resolved, whether Sys.ini was written and whether
// every help page is there.
struct SelfCheckResult {
  QString report; // one "name: value" line per item
  bool ok = false;
};

[[nodiscard]] SelfCheckResult CheckStartedProgram(const ProgramPaths &paths);
