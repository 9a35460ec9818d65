#pragma once

#include <QByteArray>
#include <QTemporaryDir>
#include <QtGlobal>

#include <malloc.h>

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
