#pragma once

#include "RecorderOptions.h"

#include "app/ConsoleOutput.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>

struct AppContext;
class MqttPublisher;
class PollingEngine;
class TReadThread;

// One recording without a window: the desktop program's start and stop, through the same
// polling engine, ring, read thread and data file writer, with what the window would show in a
// message box printed on standard error instead.
class Recorder : public QObject {
  Q_OBJECT
public:
  // ctx must hold the loaded options and meter table and outlive the recorder.
  Recorder(AppContext &ctx, zvrec::RecorderOptions options, QObject *parent = nullptr);
  ~Recorder() override;
  Recorder(const Recorder &) = delete;
  Recorder &operator=(const Recorder &) = delete;

  // False when the recording did not start; status() then says why.
  [[nodiscard]] bool start();
  // Ends the recording: polling stops, the ring is drained into the file, the file is closed;
  // then finished() with the exit status. Does nothing once stopping.
  void stop();

  [[nodiscard]] zvrec::ExitCode status() const { return m_status; }
  [[nodiscard]] const QString &file() const { return m_file; }

signals:
  void finished(int status);

private:
  void fail(zvrec::ExitCode code, const QString &message);
  void armDuration();
  void report();
  void finishPublishing();
  [[nodiscard]] QString progressLine() const;

  AppContext &m_ctx;
  zvrec::RecorderOptions m_options;
  std::unique_ptr<PollingEngine> m_engine;
  std::unique_ptr<TReadThread> m_readThread;
  std::unique_ptr<MqttPublisher> m_publisher; // while Sys.ini [MQTT] Enabled=1
  QString m_file;
  QTimer m_reportTimer;
  QTimer m_durationTimer;
  QElapsedTimer m_clock;
  QSet<int> m_lostPorts;
  zvrec::ExitCode m_status = zvrec::ExitCode::Ok;
  bool m_stopping = false;
};
