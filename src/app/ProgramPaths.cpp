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

QString ProgramPaths::installedShareDir(const QString &executableDir) {
  const QDir bin(QFileInfo(executableDir).absoluteFilePath());
  if (bin.dirName() != QLatin1String("bin"))
    return {};
  const QString share = QDir::cleanPath(bin.absoluteFilePath(QStringLiteral("../share")));
  if (!QFileInfo(share + QStringLiteral("/zervo-daq")).isDir())
    return {};
  return withSlash(share);
}

ProgramPaths ProgramPaths::resolve(const QString &executableDir) {
  const QString dir = QFileInfo(executableDir).absoluteFilePath();
  // An installed copy's folder is not even asked: being writable does not make it ours.
  return resolve(dir, installedShareDir(dir).isEmpty() && folderWritable(dir));
}

ProgramPaths ProgramPaths::resolve(const QString &executableDir, bool executableDirWritable) {
  ProgramPaths p;
  p.programDir = withSlash(QFileInfo(executableDir).absoluteFilePath());
  p.shareDir = installedShareDir(p.programDir);
  p.installed = !p.shareDir.isEmpty();
  p.helpDir = p.installed ? p.shareDir + QStringLiteral("zervo-daq/help/")
                          : p.programDir + QStringLiteral("help/");
  if (!p.installed && executableDirWritable) {
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
