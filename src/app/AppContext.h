#pragma once

#include "app/Options.h"
#include "app/ProfileStore.h"
#include "app/ProgramPaths.h"
#include "acquisition/AutoResetEvent.h"
#include "acquisition/ChannelFormats.h"
#include "acquisition/SampleRing.h"
#include "comm/MeterTable.h"

#include <memory>

// The state the whole program shares, made once by main (and by each test for itself) and passed
// down by reference. There are no other process-wide tables.
struct AppContext {
  ProgramPaths paths;
  std::unique_ptr<ProfileStore> settings;
  Options options;
  MeterTable meters;
  ChannelFormats formats;
  SampleRing ring;
  // Process-local: another program must not be able to disturb a running acquisition.
  AutoResetEvent readSignal;    // "Read Signal": the data file's head is written
  AutoResetEvent abandonSignal; // "Abondon Signal": the acquisition stops
  QString startupDataFile; // a .zvdat named on the command line, opened at first showing

  explicit AppContext(ProgramPaths p) : paths(std::move(p)) {}
};
