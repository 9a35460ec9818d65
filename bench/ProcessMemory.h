#pragma once

#include <QFile>
#include <QtGlobal>

#include <cstdio>
#include <cstring>

// Resident memory of this process from /proc/self/status, in KiB (0 when unreadable).
struct ProcessMemory {
  qint64 rssKb = 0; // VmRSS: resident now
  qint64 hwmKb = 0; // VmHWM: the peak resident size so far

  static ProcessMemory now() {
    ProcessMemory m;
    std::FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
      return m;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      long long kb = 0;
      if (std::sscanf(line, "VmRSS: %lld kB", &kb) == 1)
        m.rssKb = kb;
      else if (std::sscanf(line, "VmHWM: %lld kB", &kb) == 1)
        m.hwmKb = kb;
    }
    std::fclose(f);
    return m;
  }

  // Starts a new peak from the current resident size (Linux: "5" to clear_refs).
  static bool resetPeak() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
  }
};

inline double Mib(qint64 kb) { return double(kb) / 1024.0; }
