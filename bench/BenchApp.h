#pragma once

#include <QByteArray>
#include <QTemporaryDir>
#include <QtGlobal>

#include <fstream>
#include <string>
#include <vector>

#include <malloc.h>
#include <unistd.h>

// What every benchmark that runs the program's windows sets up before its QApplication: the
// program's own allocator setting (src/app/main.cpp), so the figures are its own, no screen
// needed, and a temporary home for the settings and desktop files of the run.
class BenchEnvironment {
public:
  BenchEnvironment() {
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
      qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
  }

private:
  QTemporaryDir m_home;
};

// CPU seconds (user + system) from a /proc stat file of a process or thread; 0 when it cannot be
// read.
inline double CpuSecondsFromStat(const std::string &path) {
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line))
    return 0;
  // Fields after the command name, which is in parentheses and may hold blanks.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos)
    return 0;
  std::vector<std::string> f;
  std::string field;
  for (std::size_t i = close + 2; i <= line.size(); ++i) {
    if (i == line.size() || line[i] == ' ') {
      f.push_back(field);
      field.clear();
    } else {
      field += line[i];
    }
  }
  // utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the name.
  if (f.size() < 13)
    return 0;
  return double(std::stoll(f[11]) + std::stoll(f[12])) / double(sysconf(_SC_CLK_TCK));
}
