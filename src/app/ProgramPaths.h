#pragma once

#include <QString>

// Where the program keeps its files. The one place that decides it; everything asks here.
//
// Installed: the executable lies in a folder "bin" beside "share/zervo-daq" (as under /usr or
// /usr/local). Such a copy never writes beside itself, even where it could (root can write
// /usr/bin): the settings go to $XDG_CONFIG_HOME/zervo-daq, the data to $XDG_DATA_HOME/zervo-daq
// and the help pages come from share/zervo-daq/help.
//
// Portable, like a program unpacked into a folder of its own: when the executable's folder is
// writable, Sys.ini, TestData and the temporary recording live beside the executable; when it is
// not, they go to the XDG folders as above. The help pages are in "help" beside the executable.
struct ProgramPaths {
  QString programDir;   // folder of the executable, ending in '/'
  QString writableDir;  // folder of Sys.ini and the temporary recording, ending in '/'
  QString settingsFile; // Sys.ini
  QString dataFolder;   // default data folder "TestData", without a trailing '/'
  QString helpDir;      // folder of the help pages, ending in '/'
  QString shareDir;     // installed: <prefix>/share, ending in '/'; empty for a portable copy
  bool portable = true; // writableDir == programDir
  bool installed = false;

  [[nodiscard]] static ProgramPaths resolve(const QString &executableDir);
  // The decision for a folder whose writability is already known.
  [[nodiscard]] static ProgramPaths resolve(const QString &executableDir, bool executableDirWritable);
  // <prefix>/share/ when executableDir is <prefix>/bin of an installed copy, else empty.
  [[nodiscard]] static QString installedShareDir(const QString &executableDir);

  // A help page by its file name ("help.html", "MainFunction.htm").
  [[nodiscard]] QString helpPage(const QString &page) const { return helpDir + page; }
};
