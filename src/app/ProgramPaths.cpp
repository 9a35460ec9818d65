#include "app/ProgramPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {
QString withSlash(QString dir) {
  dir = QDir::cleanPath(dir);
  if (!dir.endsWith(QLatin1Char('/')))
    dir += QLatin1Char('/');
  return dir;
}

bool folderWritable(const QString &dir) {
  return ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0;
}
} // namespace

ProgramPaths ProgramPaths::resolve(const QString &executableDir) {
  ProgramPaths p;
  p.programDir = withSlash(QFileInfo(executableDir).absoluteFilePath());
  if (folderWritable(p.programDir)) {
    p.writableDir = p.programDir;
    p.settingsFile = p.programDir + QStringLiteral("Sys.ini");
    p.portable = true;
  } else {
    const QString config =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/zervo-daq";
    const QString data =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/zervo-daq";
    QDir().mkpath(config);
    QDir().mkpath(data);
    p.writableDir = withSlash(data);
    p.settingsFile = withSlash(config) + QStringLiteral("Sys.ini");
    p.portable = false;
  }
  p.dataFolder = p.writableDir + QStringLiteral("TestData");
  return p;
}
