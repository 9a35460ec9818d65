#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/fsuid.h>
#include <unistd.h>

// While alive, the settings file and its folder may be read but not written: the folder and the
// file are made read-only for everyone and this thread's file access runs as "nobody" (the tests
// run as root, whom permissions do not stop). Sys.ini is written through a temporary file in its
// folder, so a write then fails as on a read-only installation. Only the calling thread is
// affected.
class UnwritableSettings {
public:
  static constexpr uid_t kNobody = 65534;
  explicit UnwritableSettings(const QString &settingsFile)
      : m_dir(QFileInfo(settingsFile).absolutePath()), m_file(settingsFile) {
    const auto r = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    const auto x = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    m_dirPerms = QFile::permissions(m_dir);
    QFile::setPermissions(m_dir, r | x);
    if (QFile::exists(m_file))
      QFile::setPermissions(m_file, r);
    if (::geteuid() == 0) {
      ::setfsgid(kNobody);
      ::setfsuid(kNobody);
      m_dropped = true;
    }
  }
  ~UnwritableSettings() {
    if (m_dropped) {
      ::setfsuid(0);
      ::setfsgid(0);
    }
    QFile::setPermissions(m_dir, m_dirPerms);
    if (QFile::exists(m_file))
      QFile::setPermissions(m_file, QFile::ReadOwner | QFile::WriteOwner);
  }
  UnwritableSettings(const UnwritableSettings &) = delete;
  UnwritableSettings &operator=(const UnwritableSettings &) = delete;

private:
  QString m_dir;
  QString m_file;
  QFileDevice::Permissions m_dirPerms;
  bool m_dropped = false;
};
