#pragma once

#include "acquisition/TReadThread.h"
#include "publish/MqttPublisher.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <span>

class PollingEngine;
class RecordingHost;
class ViewBoard;
struct AppContext;

// Hands the read thread's batches to the channel views in ring order, each sample with its
// index in the recording file. At the first batch (the file exists by then) the live traces
// switch to stores over the file, so a recording of days holds only summaries in memory.
struct LiveRecordFeed {
  QString file;
  int fileChannels = 0;
  qint64 nextRecord = 0;
  bool attached = false;

  // timeUnit: the time axis's unit now.
  void apply(ViewBoard &board, const SampleBatch &batch, int timeUnit);
};

// Starts and stops a recording: the port check, the data file by save mode, polling, the read
// thread, the views' live state, and the timed end. It reports to its window through the host
// and its signals; which commands the window offers meanwhile is the window's business.
class AcquisitionControl : public QObject {
  Q_OBJECT
public:
  AcquisitionControl(AppContext &ctx, RecordingHost &host, ViewBoard &board, QObject *parent = nullptr);
  ~AcquisitionControl() override;

  // The X/Y view's part; unset hooks mean there is no X/Y view.
  struct XYHooks {
    // Decides whether the view is fed this recording and, if so, readies trace 0.
    std::function<bool()> start;
    // Every batch shown, in ring order (the view pairs X readings with the latest Y).
    std::function<void(std::span<const TSampleRecord> records)> samples;
  };
  void setXYHooks(XYHooks hooks) { m_xy = std::move(hooks); }

  // Returns whether a recording is running afterwards. Every meter of the meter table is
  // recorded, each with its channel's configured settings.
  bool Start();
  void Stop();

  [[nodiscard]] bool running() const { return m_readThread != nullptr; }
  [[nodiscard]] PollingEngine &engine() { return *m_engine; }
  [[nodiscard]] TReadThread *readThread() const { return m_readThread.get(); }
  [[nodiscard]] bool xyFed() const { return m_xyFed; }
  // Exists while Sys.ini [MQTT] Enabled=1 was set at the last start; kept between recordings so
  // the connection stays up.
  [[nodiscard]] MqttPublisher *publisher() const { return m_publisher.get(); }

  // The temporary recording of the ask-each-time save mode.
  [[nodiscard]] QString temporaryFile() const;

signals:
  // The read thread exists from started() until stopped().
  void started();
  void stopped();
  // Start found an unsaved recording and the operator wants it saved first; the recording does
  // not start. Connected directly: the save runs before Start returns.
  void saveRequested();
  // The publisher's state and counts twice a second while one exists; empty once it is gone.
  void publishingText(const QString &text);
  // Changes of the channels' alarm states, in recording order, on the UI thread.
  void alarms(const AlarmEventBatch &events);

private:
  void applyBatch(const SampleBatch &batch);
  LiveRecordFeed m_feed;
  void prepareChannels();
  void armTimedEnd();
  void startPublishing();

  AppContext &m_ctx;
  RecordingHost &m_host;
  ViewBoard &m_board;
  std::unique_ptr<PollingEngine> m_engine;
  std::unique_ptr<TReadThread> m_readThread;
  XYHooks m_xy;
  bool m_xyFed = false;
  quint64 m_run = 0; // batches of an earlier run that arrive late are dropped
  QTimer m_acquisitionTimer;
  QElapsedTimer m_recordingClock;
  qint64 m_keepMs = 0;
  std::unique_ptr<MqttPublisher> m_publisher;
  QTimer m_publishingRefresh;
};
