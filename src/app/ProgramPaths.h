#pragma once

#include <QString>

// Where the program keeps its files. The one place that decides it; everything asks here.
//
// Portable use, like a program unpacked into a folder: when the executable's folder is writable,
// Sys.ini, TestData and the temporary recording live beside the executable. When it is not (an
// installed copy), the settings go to $XDG_CONFIG_HOME/zervo-daq and the data to
// $XDG_DATA_HOME/zervo-daq. Read-only resources (help pages) are always looked up beside the
// executable first.
struct ProgramPaths {
  QString programDir;   // folder of the executable, ending in '/'
  QString writableDir;  // folder of Sys.ini and the temporary recording, ending in '/'
  QString settingsFile; // Sys.ini
  QString dataFolder;   // default data folder "TestData", without a trailing '/'
  bool portable = true; // writableDir == programDir

  [[nodiscard]] static ProgramPaths resolve(const QString &executableDir);
};
