#include "app/FileAssociation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const char kMimeXml[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-zvdat">
    <comment>ZERVO data file</comment>
    <comment xml:lang="zh_CN">仪表数据采集文件</comment>
    <glob pattern="*.zvdat"/>
    <glob pattern="*.ZVDAT"/>
    <icon name="application-x-zvdat"/>
  </mime-type>
</mime-info>
)";

const char kIconSvg[] = R"(<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">
  <path d="M12 4h28l12 12v44H12z" fill="#f4f7fb" stroke="#234" stroke-width="2"/>
  <path d="M40 4v12h12" fill="none" stroke="#234" stroke-width="2"/>
  <rect x="17" y="24" width="30" height="26" fill="#0b1f3a"/>
  <polyline points="18,44 24,36 30,40 36,30 42,34 46,28" fill="none" stroke="#ffd200" stroke-width="2.5"/>
</svg>
)";

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

FileAssociation::FileAssociation(QString dataHome, QString executable)
    : m_dataHome(std::move(dataHome)), m_executable(std::move(executable)) {}

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
  bool changed = false;
  const bool ok = removeFile(mimeFile(), error, &changed) &&
                  removeFile(desktopFile(), error, &changed) && removeFile(iconFile(), error, &changed);
  if (changed)
    refreshDatabases();
  return ok;
}

bool FileAssociation::installed() const {
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
