#pragma once

#include <QString>

// Registers the data file type with the desktop the freedesktop way: a MIME type for *.zvdat and a
// desktop entry that starts the program with the file, both in the user's XDG data folder, and
// the desktop's databases refreshed when their tools are there (in the background: install and
// remove never wait for them).
//
// An installed program (systemShareDir given, e.g. /usr/share) is associated by its package's
// desktop entry and MIME type. Then install writes nothing and only checks they are there, and
// remove hides the installed entry for this user with a per-user entry marked Hidden=true;
// install takes that back again. No per-user copy ever points at an installed binary.
class FileAssociation {
public:
  // dataHome: usually $XDG_DATA_HOME (~/.local/share); executable: the program to start.
  // systemShareDir: <prefix>/share of an installed program, empty for a portable copy.
  FileAssociation(QString dataHome, QString executable, QString systemShareDir = {});

  static inline const QString kMimeType = QStringLiteral("application/x-zvdat");

  [[nodiscard]] bool install(QString *error = nullptr) const;
  [[nodiscard]] bool remove(QString *error = nullptr) const;
  [[nodiscard]] bool installed() const;

  [[nodiscard]] QString mimeFile() const;
  [[nodiscard]] QString desktopFile() const;
  [[nodiscard]] QString iconFile() const;
  [[nodiscard]] QString systemMimeFile() const;
  [[nodiscard]] QString systemDesktopFile() const;
  // The desktop entry's Exec value: the program in double quotes, then the file argument, with
  // the escapes desktop entries require (%% for %, \\\\ for a backslash, \\" for a quote).
  [[nodiscard]] QString execLine() const;

  // The user's data home as the XDG rules give it.
  [[nodiscard]] static QString defaultDataHome();

private:
  void refreshDatabases() const;
  [[nodiscard]] bool hiddenByUser() const;
  QString m_dataHome;
  QString m_executable;
  QString m_systemShareDir;
};
