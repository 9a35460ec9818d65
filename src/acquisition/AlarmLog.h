#pragma once

#include "acquisition/AlarmRule.h"
#include "acquisition/SampleRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>
#include <span>
#include <vector>

// One change of a channel's alarm state, at the sample that caused it.
struct AlarmEvent {
  double timeMs = 0;  // the sample's time: whole milliseconds since the recording start
  int channel = 0;    // 0-based
  QString title;
  double value = 0;
  double limit = 0;
  AlarmEventKind kind = AlarmEventKind::Clear;

  friend bool operator==(const AlarmEvent &, const AlarmEvent &) = default;
};
using AlarmEventBatch = QVector<AlarmEvent>;
Q_DECLARE_METATYPE(AlarmEventBatch)

// The alarm rules of a recording's channels, fed every sample in ring order (the read thread
// does this, and a replay of the recording file does the same, so both find the same events).
class AlarmMonitor {
public:
  AlarmMonitor(const QList<AlarmLimits> &limits, QStringList titles);

  // Whether any channel has an alarm to decide at all.
  [[nodiscard]] bool any() const { return m_any; }
  // O(1); a change is kept until takeEvents().
  void feed(const TSampleRecord &sample);
  [[nodiscard]] bool hasEvents() const { return !m_events.isEmpty(); }
  [[nodiscard]] AlarmEventBatch takeEvents();

private:
  std::vector<AlarmRule> m_rules;
  QStringList m_titles;
  bool m_any = false;
  AlarmEventBatch m_events;
};

// The events of a whole recording, as the live decision would have found them.
[[nodiscard]] AlarmEventBatch AlarmEventsOf(std::span<const TSampleRecord> samples, const QList<AlarmLimits> &limits,
                                            const QStringList &titles);

// One line of the event log as read back.
struct AlarmLogRow {
  QString time;  // UTC, ISO 8601 with milliseconds
  qint64 ms = 0;
  int channel = 0; // 1-based, as written
  QString title;
  double value = 0;
  double limit = 0;
  AlarmEventKind kind = AlarmEventKind::Clear;
};

// `<data file>.alarms.csv`: UTF-8, a header line, one line per event. The read thread writes it
// beside the data file as the events happen.
class AlarmLog {
public:
  static inline const QByteArray kHeader = QByteArrayLiteral("time,ms,channel,title,value,limit,event\n");

  [[nodiscard]] static QString PathFor(const QString &dataFile) {
    return dataFile + QStringLiteral(".alarms.csv");
  }
  // "2026-12-09T10:15:30.123Z": the recording's start plus the sample's milliseconds, in UTC.
  [[nodiscard]] static QString TimeText(const QDateTime &start, double timeMs);
  [[nodiscard]] static QByteArray Line(const AlarmEvent &event, const QDateTime &start);
  // Null when the file cannot be read or is not an event log.
  [[nodiscard]] static std::optional<QList<AlarmLogRow>> Read(const QString &path);

  // Creates (replacing) the file with its header line.
  [[nodiscard]] bool open(const QString &path, const QDateTime &start);
  // Writes the lines and hands them to the system at once: events are rare, and a crash must
  // not keep them in a buffer of ours.
  [[nodiscard]] bool append(std::span<const AlarmEvent> events);
  [[nodiscard]] bool isOpen() const { return m_file.isOpen(); }
  [[nodiscard]] int handle() const { return m_file.handle(); }
  [[nodiscard]] QString errorString() const { return m_file.errorString(); }
  void close() { m_file.close(); }

private:
  QFile m_file;
  QDateTime m_start;
};
