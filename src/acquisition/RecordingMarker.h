#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// What a running recording leaves behind if the program dies: the marker file is written (and
// on the disk) when a recording starts and removed when it stops cleanly, so a marker found at
// the next start means the last recording did not end cleanly.
struct RecordingMarkerInfo {
  QString dataFile;
  QDateTime startTime;
  int saveMode = 0;
};

class RecordingMarker {
public:
  explicit RecordingMarker(QString path) : m_path(std::move(path)) {}
  // The marker beside Sys.ini and the temporary recording.
  [[nodiscard]] static RecordingMarker In(const QString &writableDir);

  // Replaces the marker in one rename, synced, so it is either absent or whole.
  [[nodiscard]] bool write(const RecordingMarkerInfo &info, QString *error = nullptr) const;
  // Nothing to remove counts as done.
  bool remove() const;
  // nullopt when there is no marker or it is unreadable.
  [[nodiscard]] std::optional<RecordingMarkerInfo> read() const;
  [[nodiscard]] const QString &path() const { return m_path; }

private:
  QString m_path;
};

// Time of the last whole sample of a data file, read from the file's head and its last record
// alone (a recording of days is not loaded for this); nullopt when it is no data file or holds
// no whole sample.
[[nodiscard]] std::optional<double> LastSampleTime(const QString &path);

// What to tell the operator about a recording that did not end cleanly.
struct UnfinishedRecording {
  QString dataFile;
  QString duration;     // "h小时m分钟s秒ms毫秒"
  bool offerSave = false; // it lies in the temporary file, which the next Start would overwrite
  [[nodiscard]] QString text() const;
};

// From the marker and the file it names; nullopt when there is nothing to tell (no marker, or a
// file that holds no sample).
[[nodiscard]] std::optional<UnfinishedRecording> FindUnfinishedRecording(const RecordingMarker &marker,
                                                                         const QString &temporaryFile);
