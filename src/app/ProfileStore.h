#pragma once

#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QtGlobal>

#include <memory>

// The program's settings file (Sys.ini): a profile file of [Section] lines and key=value lines.
//
// Nothing stale: every read sees the file as it is on disk now and every write rewrites the file at
// once, through a temporary file and a rename, so a crash never leaves half a Sys.ini behind and
// nothing needs flushing at exit. Section and key names compare case-insensitively; sections,
// keys, comments and lines we do not know are kept in place. Text is GBK on disk.
//
// Values: integers as decimal (a text longer than two characters starting "0x"/"0X" reads as
// hexadecimal), booleans as "1"/"0" (any non-zero integer is true), floats with 15 significant
// digits and always a point as decimal separator. A missing file, section or key and an
// unparsable number give the caller's default.
//
// A write that fails (a read-only file, a full disk) leaves the file as it was, but its values
// stay in effect for the rest of the run: reads return them, and the next write that succeeds
// takes them to the file as well. failedWrites() counts the failures, so a dialog can tell the
// operator once that its settings did not reach the file.
//
// Each read compares the file's bytes with the last ones parsed and parses again only when they
// differ, so a file of many megabytes (a damaged one) costs one parse, not one per key read.
//
// Thread-safe: the communication thread writes PrecisionArray while the UI reads other keys.
class ProfileStore {
public:
  explicit ProfileStore(QString path);
  ~ProfileStore();
  ProfileStore(const ProfileStore &) = delete;
  ProfileStore &operator=(const ProfileStore &) = delete;

  [[nodiscard]] const QString &path() const { return m_path; }

  [[nodiscard]] QString readString(const QString &section, const QString &key,
                                   const QString &def) const;
  [[nodiscard]] int readInteger(const QString &section, const QString &key, int def) const;
  [[nodiscard]] bool readBool(const QString &section, const QString &key, bool def) const;
  [[nodiscard]] double readFloat(const QString &section, const QString &key, double def) const;
  // All keys of a section with their values, in file order; a key repeated later is left out,
  // as the single-key reads see only its first occurrence.
  [[nodiscard]] QList<QPair<QString, QString>> readSection(const QString &section) const;

  // Each returns false when the file could not be written; the file then keeps its old content.
  bool writeString(const QString &section, const QString &key, const QString &value);
  bool writeInteger(const QString &section, const QString &key, int value);
  bool writeBool(const QString &section, const QString &key, bool value);
  bool writeFloat(const QString &section, const QString &key, double value);

  // Several keys in one rewrite of the file (the meter table writes about a hundred at once).
  struct Entry {
    QString section;
    QString key;
    QString value; // already encoded (QString::number, formatFloat, "1"/"0")
  };
  bool writeEntries(const QList<Entry> &entries);

  // How many writes have failed so far.
  [[nodiscard]] quint64 failedWrites() const;

  // Value encodings, shared with anything else that reads or writes profile text.
  [[nodiscard]] static int parseInteger(const QString &text, int def);
  [[nodiscard]] static double parseFloat(const QString &text, double def);
  [[nodiscard]] static QString formatFloat(double value);

private:
  struct Parsed;
  [[nodiscard]] bool readRaw(const QString &section, const QString &key, QString *value) const;
  // The file as it is on disk now, parsed; m_mutex must be held.
  [[nodiscard]] const Parsed &current() const;
  QString m_path;
  mutable QMutex m_mutex;
  std::unique_ptr<Parsed> m_parsed; // guarded by m_mutex
  QList<Entry> m_unwritten;         // values whose write failed, oldest first; guarded by m_mutex
  quint64 m_failedWrites = 0;       // guarded by m_mutex
};
