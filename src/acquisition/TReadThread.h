#pragma once

#include "acquisition/AlarmLog.h"
#include "acquisition/DataFile.h"
#include "acquisition/DataFileSyncer.h"
#include "acquisition/SampleRecord.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QThread>
#include <QVector>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

class AutoResetEvent;
class SampleRing;

using SampleBatch = QVector<TSampleRecord>;
Q_DECLARE_METATYPE(SampleBatch)

// The acquisition's read thread: writes the data file's head, sets "Read Signal", then drains
// the sample ring about every millisecond, appending each pass to the file with one write. The
// samples go to the UI thread in ring order, gathered into one batch every kViewBatchInterval. It never waits for the UI thread, so
// stopping it from the UI thread cannot deadlock. At stop it drains what is left, then closes the
// file. A file that cannot be written ends the thread with `failed`; what was written stays a
// valid file. A syncer thread forces the file onto the disk twice a second, so a power cut loses
// at most about a second; the draining never waits for it.
class TReadThread : public QThread {
  Q_OBJECT
public:
  // Displays and charts need no more than this; the file is still written every pass.
  static constexpr std::chrono::milliseconds kViewBatchInterval{20};

  TReadThread(QString path, QList<ChannelInfo> channels, SampleRing &ring, AutoResetEvent &readSignal,
              QObject *parent = nullptr);
  ~TReadThread() override;
  TReadThread(const TReadThread &) = delete;
  TReadThread &operator=(const TReadThread &) = delete;

  // Asks the loop to finish (drain, write, close) and waits for it.
  void stopAndWait();

  [[nodiscard]] const QString &path() const { return m_path; }
  [[nodiscard]] qint64 samplesWritten() const { return m_written.load(); }
  // Completed syncs of the data file to the disk, the final one at stop included.
  [[nodiscard]] quint64 syncsCompleted() const { return m_syncs.load(); }
  // Replaces fdatasync (a test plays a slow or failing disk with it). Before start() only.
  void setSyncFunction(DataFileSyncer::SyncFunction sync) { m_sync = std::move(sync); }
  // Every sample written goes through the monitor, in ring order. Its events are appended to
  // `<data file>.alarms.csv` (started with the header when any channel has an alarm, removed
  // otherwise, so no stale log sits beside a new recording), synced like the data file, and
  // handed on by alarms(). Before start() only.
  void setAlarmMonitor(std::unique_ptr<AlarmMonitor> monitor, QDateTime start);

  // "已采样: " with hours, minutes and seconds of the elapsed whole seconds.
  [[nodiscard]] static QString ElapsedText(qint64 seconds);

signals:
  void samples(const SampleBatch &batch);
  void elapsedText(const QString &text);
  void failed(const QString &message);
  // Emitted on the read thread: connect queued for widgets.
  void alarms(const AlarmEventBatch &events);
  // The event log could not be written; the recording and the decisions go on.
  void alarmLogFailed(const QString &message);

protected:
  void run() override;

private:
  QString m_path;
  QList<ChannelInfo> m_channels;
  SampleRing &m_ring;
  AutoResetEvent &m_readSignal;
  std::atomic<qint64> m_written{0};
  std::atomic<quint64> m_syncs{0};
  DataFileSyncer::SyncFunction m_sync;
  std::unique_ptr<AlarmMonitor> m_alarms;
  QDateTime m_alarmStart;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stop = false;
};
