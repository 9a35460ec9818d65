#include "app/FileAssociation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include "app/DesktopFiles.h"

namespace {

// A per-user entry of this name shadows the installed one; Hidden=true makes the desktop treat
// the installed entry as deleted for this user (the desktop entry rules' way to remove it).
const char kHiddenEntry[] = "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=仪表数据采集软件\n"
                            "Hidden=true\n";

// Writes the file unless it already holds exactly these bytes; `changed` records a write.
bool writeText(const QString &path, const QByteArray &bytes, QString *error, bool *changed) {
  QFile existing(path);
  if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
    return true;
  *changed = true;
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
    if (error)
      *error = QStringLiteral("无法创建目录 %1").arg(QFileInfo(path).absolutePath());
    return false;
  }
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
    if (error)
      *error = QStringLiteral("无法写入 %1：%2").arg(path, f.errorString());
    return false;
  }
  return true;
}

bool removeFile(const QString &path, QString *error, bool *changed) {
  if (!QFile::exists(path))
    return true;
  *changed = true;
  if (QFile::remove(path))
    return true;
  if (error)
    *error = QStringLiteral("无法删除 %1").arg(path);
  return false;
}

// The databases are caches the desktop rebuilds; waiting for the tools would freeze the window
// for as long as they take, and nothing depends on their result.
void startDetached(const QString &program, const QStringList &args) {
  QProcess p;
  p.setProgram(program);
  p.setArguments(args);
  p.setStandardOutputFile(QProcess::nullDevice());
  p.setStandardErrorFile(QProcess::nullDevice());
  p.startDetached();
}

} // namespace

FileAssociation::FileAssociation(QString dataHome, QString executable, QString systemShareDir)
    : m_dataHome(std::move(dataHome)), m_executable(std::move(executable)),
      m_systemShareDir(std::move(systemShareDir)) {}

QString FileAssociation::systemMimeFile() const {
  return m_systemShareDir.isEmpty() ? QString() : m_systemShareDir + "/mime/packages/zervo-daq.xml";
}
QString FileAssociation::systemDesktopFile() const {
  return m_systemShareDir.isEmpty() ? QString() : m_systemShareDir + "/applications/zervo-daq.desktop";
}

bool FileAssociation::hiddenByUser() const {
  QFile f(desktopFile());
  return f.open(QIODevice::ReadOnly) && f.readAll() == QByteArray(kHiddenEntry);
}

QString FileAssociation::defaultDataHome() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString FileAssociation::mimeFile() const { return m_dataHome + "/mime/packages/zervo-daq.xml"; }
QString FileAssociation::desktopFile() const { return m_dataHome + "/applications/zervo-daq.desktop"; }
QString FileAssociation::iconFile() const {
  return m_dataHome + "/icons/hicolor/scalable/mimetypes/application-x-zvdat.svg";
}

QString FileAssociation::execLine() const {
  // The program goes in double quotes, where ", `, $ and \ are escaped with a backslash and a
  // literal % is written %%. The Exec value is a string value as well, whose own escapes are
  // undone first: every backslash is doubled again and control characters become \n, \t, \r.
  QString arg;
  for (const QChar c : m_executable) {
    if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
      arg += QLatin1Char('\\');
    if (c == QLatin1Char('%'))
      arg += QLatin1Char('%');
    arg += c;
  }
  QString value;
  for (const QChar c : QLatin1Char('"') + arg + QStringLiteral("\" %f")) {
    switch (c.unicode()) {
    case '\\': value += QStringLiteral("\\\\"); break;
    case '\n': value += QStringLiteral("\\n"); break;
    case '\t': value += QStringLiteral("\\t"); break;
    case '\r': value += QStringLiteral("\\r"); break;
    default: value += c;
    }
  }
  return value;
}

bool FileAssociation::install(QString *error) const {
  if (!m_systemShareDir.isEmpty()) {
    // Installed: the package's entry and MIME type are the association; nothing per user
    // points at the binary. Only a removal made earlier from the menu is taken back.
    bool changed = false;
    if (hiddenByUser() && !removeFile(desktopFile(), error, &changed))
      return false;
    if (changed)
      refreshDatabases();
    if (QFile::exists(systemMimeFile()) && QFile::exists(systemDesktopFile()))
      return true;
    if (error)
      *error = QStringLiteral("安装的文件 %1 不存在").arg(systemDesktopFile());
    return false;
  }
  const QString desktop = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=仪表数据采集软件\n"
                                         "Name[en]=ZERVO Data Acquisition\n"
                                         "Exec=%1\n"
                                         "Icon=application-x-zvdat\n"
                                         "MimeType=%2;\n"
                                         "Terminal=false\n"
                                         "Categories=Science;Engineering;\n")
                              .arg(execLine(), kMimeType);
  bool changed = false;
  const bool ok = writeText(mimeFile(), kMimeXml, error, &changed) &&
                  writeText(iconFile(), kIconSvg, error, &changed) &&
                  writeText(desktopFile(), desktop.toUtf8(), error, &changed);
  if (changed)
    refreshDatabases();
  return ok;
}

bool FileAssociation::remove(QString *error) const {
  if (!m_systemShareDir.isEmpty()) {
    // The package's files belong to the package manager; the user's choice is an override.
    bool changed = false;
    const bool ok = writeText(desktopFile(), kHiddenEntry, error, &changed);
    if (changed)
      refreshDatabases();
    return ok;
  }
  bool changed = false;
  const bool ok = removeFile(mimeFile(), error, &changed) &&
                  removeFile(desktopFile(), error, &changed) && removeFile(iconFile(), error, &changed);
  if (changed)
    refreshDatabases();
  return ok;
}

bool FileAssociation::installed() const {
  if (!m_systemShareDir.isEmpty())
    return QFile::exists(systemMimeFile()) && QFile::exists(systemDesktopFile()) && !hiddenByUser();
  return QFile::exists(mimeFile()) && QFile::exists(desktopFile());
}

void FileAssociation::refreshDatabases() const {
  // Tell the desktop that associations changed; machines without these tools simply skip it.
  const QString mimeTool = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
  if (!mimeTool.isEmpty())
    startDetached(mimeTool, {m_dataHome + "/mime"});
  const QString desktopTool = QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
  if (!desktopTool.isEmpty())
    startDetached(desktopTool, {m_dataHome + "/applications"});
}
