#include "Recorder.h"

#include "acquisition/RecordingSession.h"
#include "acquisition/TReadThread.h"
#include "app/AppContext.h"
#include "comm/PollingEngine.h"
#include "publish/MqttPublisher.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

using zvrec::ExitCode;

namespace {
// The longest single wait of the duration timer; longer runs are chained, as the desktop's
// timed end does, so they are not cut at a 32-bit interval.
constexpr qint64 kTimerSliceMs = 3600000;
// How long a stop waits for the broker to take what is still pending before giving up on it.
constexpr std::chrono::seconds kDrainLimit{10};

// H:MM:SS.s; the tenths keep a tick that comes a little early from reading as the second before.
QString Clock(qint64 ms) {
  const qint64 tenths = (ms + 50) / 100;
  const qint64 s = tenths / 10;
  return QStringLiteral("%1:%2:%3.%4")
      .arg(s / 3600)
      .arg((s % 3600) / 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'))
      .arg(tenths % 10);
}
} // namespace

Recorder::Recorder(AppContext &ctx, zvrec::RecorderOptions options, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_options(std::move(options)),
      m_engine(std::make_unique<PollingEngine>(ctx, ctx.ring, ctx.formats, ctx.readSignal, ctx.abandonSignal)) {
  m_reportTimer.setInterval(1000);
  m_reportTimer.setTimerType(Qt::PreciseTimer);
  connect(&m_reportTimer, &QTimer::timeout, this, &Recorder::report);
  m_durationTimer.setSingleShot(true);
  m_durationTimer.setTimerType(Qt::PreciseTimer);
  connect(&m_durationTimer, &QTimer::timeout, this, [this] {
    if (m_clock.elapsed() >= m_options.durationMs)
      stop();
    else
      armDuration();
  });
  // As on the desktop, the other ports go on; the run then ends with PortLost, and at once when
  // no port is left to record from.
  connect(m_engine.get(), &PollingEngine::portFailed, this, [this](int com, const QString &message) {
    Print(stderr, QStringLiteral("zvrec: %1\n").arg(message));
    m_lostPorts.insert(com);
    if (m_status == ExitCode::Ok)
      m_status = ExitCode::PortLost;
    // Not from inside the engine's own signal: stopping releases the module that sent it.
    if (m_lostPorts.size() >= m_engine->portCount())
      QTimer::singleShot(0, this, &Recorder::stop);
  });
}

Recorder::~Recorder() {
  if (m_readThread || m_engine->running())
    RecordingSession::Finish(m_ctx, *m_engine, m_readThread);
  m_publisher.reset(); // after the read thread, which feeds it
}

void Recorder::fail(ExitCode code, const QString &message) {
  if (m_status == ExitCode::Ok || m_status == ExitCode::PortLost)
    m_status = code;
  Print(stderr, QStringLiteral("zvrec: %1\n").arg(message));
}

bool Recorder::start() {
  const MeterTable &meters = m_ctx.meters;
  const Options &o = m_ctx.options;
  if (meters.MeterAmount < 1) {
    fail(ExitCode::Refused, RecordingSession::kNoMeterText);
    return false;
  }
  QString portMessage;
  if (!m_engine->checkPorts(&portMessage)) {
    // The desktop says nothing for a table without ports in use; a service must say something.
    fail(ExitCode::Refused, portMessage.isEmpty() ? QStringLiteral("the meter table has no port in use") : portMessage);
    return false;
  }
  if (!m_options.output.isEmpty()) {
    m_file = QFileInfo(m_options.output).absoluteFilePath();
  } else {
    if (!QDir(o.SavePath).exists()) {
      fail(ExitCode::Refused, RecordingSession::kNoSavePathText);
      return false;
    }
    m_file = RecordingSession::AutomaticFileName(o.SavePath, o.FileNameHead, QDateTime::currentDateTime());
  }
  const QList<ChannelInfo> channels = RecordingSession::ConfiguredChannels(m_ctx);
  // Connecting starts now, so the broker is usually there by the first reading.
  if (const MqttSettings mqtt = MqttSettings::load(*m_ctx.settings); mqtt.enabled)
    m_publisher = std::make_unique<MqttPublisher>(mqtt);

  const StartResult polling = RecordingSession::StartPolling(m_ctx, *m_engine);
  if (polling.status == StartResult::Status::PortFailed) {
    fail(ExitCode::Refused, polling.message);
    return false;
  }
  m_readThread = std::make_unique<TReadThread>(m_file, channels, m_ctx.ring, m_ctx.readSignal);
  connect(m_readThread.get(), &TReadThread::failed, this, [this](const QString &message) {
    fail(ExitCode::DataFileFailed, message);
    stop();
  });
  // The event log beside the file; a log that cannot be written is said, the recording goes on.
  RecordingSession::AttachAlarms(m_ctx, *m_readThread, channels);
  connect(m_readThread.get(), &TReadThread::alarmLogFailed, this,
          [](const QString &message) { Print(stderr, QStringLiteral("zvrec: %1\n").arg(message)); });
  if (m_publisher)
    RecordingSession::AttachPublisher(m_ctx, *m_publisher, *m_readThread, m_file, static_cast<int>(channels.size()));
  m_readThread->start();
  RecordingSession::MarkMetersAlive(m_ctx.meters, static_cast<int>(channels.size()));

  m_clock.start();
  if (!m_options.quiet)
    Print(stderr, QStringLiteral("zvrec: recording %1 channels to %2\n").arg(channels.size()).arg(m_file));
  if (m_options.durationMs > 0)
    armDuration();
  if (!m_options.quiet)
    m_reportTimer.start();
  return true;
}

void Recorder::armDuration() {
  const qint64 left = m_options.durationMs - m_clock.elapsed();
  m_durationTimer.start(static_cast<int>(std::clamp<qint64>(left, 0, kTimerSliceMs)));
}

QString Recorder::progressLine() const {
  const qint64 samples = m_readThread ? m_readThread->samplesWritten() : 0;
  QString line = QStringLiteral("zvrec: %1 elapsed, %2 samples")
                     .arg(Clock(static_cast<qint64>(m_ctx.ring.elapsedMs())))
                     .arg(samples);
  for (const PortStats &p : m_engine->allStats()) {
    line += QStringLiteral("; COM%1 good %2 rejected %3 timeouts %4")
                .arg(p.com)
                .arg(p.goodFrames)
                .arg(p.totalRejects())
                .arg(p.timeouts);
    if (p.failed)
      line += QStringLiteral(" lost");
  }
  if (m_publisher)
    line += QStringLiteral("; published %1, pending %2, broker %3")
                .arg(m_publisher->published())
                .arg(m_publisher->pending())
                .arg(m_publisher->stateText());
  return line + QLatin1Char('\n');
}

void Recorder::report() { Print(stderr, progressLine()); }

// The read thread has ended, so every reading and alarm is in the publisher: they go out, then
// "idle", then the publisher's end says "offline". A broker that does not take them in time costs
// only what is still pending, which the data file and the event log hold anyway.
void Recorder::finishPublishing() {
  if (!m_publisher)
    return;
  m_publisher->endRecording();
  if (m_publisher->waitUntilDrained(kDrainLimit)) {
    if (!m_options.quiet)
      Print(stderr, QStringLiteral("zvrec: published %1 readings\n").arg(m_publisher->published()));
  } else {
    Print(stderr, QStringLiteral("zvrec: broker did not take everything within %1 s: published %2, pending %3, alarms pending %4 (%5)\n")
                      .arg(kDrainLimit.count())
                      .arg(m_publisher->published())
                      .arg(m_publisher->pending())
                      .arg(m_publisher->alarmsPending())
                      .arg(m_publisher->stateText()));
  }
  m_publisher.reset();
}

void Recorder::stop() {
  if (m_stopping)
    return;
  m_stopping = true;
  m_reportTimer.stop();
  m_durationTimer.stop();
  const qint64 elapsed = static_cast<qint64>(m_ctx.ring.elapsedMs());
  const qint64 written = RecordingSession::Finish(m_ctx, *m_engine, m_readThread);
  // A failure to close the file is queued to us by the read thread; take it before reporting.
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
  if (!m_options.quiet)
    Print(stderr, QStringLiteral("zvrec: stopped after %1, %2 samples in %3\n")
                      .arg(Clock(elapsed))
                      .arg(written)
                      .arg(m_file));
  finishPublishing();
  emit finished(static_cast<int>(m_status));
}
