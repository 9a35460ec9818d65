#include "acquisition/AcquisitionControl.h"

#include "acquisition/ChannelSettings.h"
#include "acquisition/RecordingHost.h"
#include "acquisition/RecordingMarker.h"
#include "acquisition/RecordingSession.h"
#include "acquisition/TChannel.h"
#include "app/AppContext.h"
#include "app/MessageBoxes.h"
#include "comm/PollingEngine.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

namespace {
// The longest single wait of the timed end; longer keep times are chained, so a recording of
// weeks ends on time instead of at the truncated 32-bit interval.
constexpr qint64 kTimerSliceMs = 3600000;
} // namespace

AcquisitionControl::AcquisitionControl(AppContext &ctx, RecordingHost &host, ViewBoard &board, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_host(host), m_board(board),
      m_engine(std::make_unique<PollingEngine>(ctx, ctx.ring, ctx.formats, ctx.readSignal, ctx.abandonSignal)) {
  m_acquisitionTimer.setSingleShot(true);
  connect(&m_acquisitionTimer, &QTimer::timeout, this, [this] {
    if (m_recordingClock.elapsed() >= m_keepMs)
      Stop();
    else
      armTimedEnd();
  });
  m_publishingRefresh.setInterval(500);
  connect(&m_publishingRefresh, &QTimer::timeout, this, [this] {
    emit publishingText(m_publisher ? m_publisher->summaryText() : QString());
  });
  connect(m_engine.get(), &PollingEngine::portFailed, this, [this](int, const QString &message) {
    // Not modal: the other ports keep recording while the operator reads it.
    auto *box = new QMessageBox(QMessageBox::Critical, Msg::kError, message, QMessageBox::Ok, m_host.dialogParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  });
}

AcquisitionControl::~AcquisitionControl() {
  if (running())
    Stop();
}

QString AcquisitionControl::temporaryFile() const {
  return m_ctx.paths.writableDir + QStringLiteral("ZERVO temporary1.0.0.0.zvdat");
}

// The channels come from the meter table and Sys.ini, not from the last file opened: that file
// may have had fewer channels (so some meters would be polled but not recorded) and its own
// titles, ranges, scale and offset.
void AcquisitionControl::prepareChannels() {
  const int meters = m_ctx.meters.MeterAmount;
  if (m_board.viewCount() != meters) {
    m_board.BuildChannelViews(meters);
    return;
  }
  for (int i = 0; i < m_board.viewCount(); ++i)
    ApplyChannelRecord(*m_board.channel(i), ConfiguredChannel(*m_ctx.settings, i));
}

bool AcquisitionControl::Start() {
  if (running() || m_host.otherWorkRunning())
    return running();
  Options &o = m_ctx.options;
  MeterTable &meters = m_ctx.meters;
  QWidget *parent = m_host.dialogParent();
  // 1.
  if (meters.MeterAmount < 1) {
    Msg::error(parent, RecordingSession::kNoMeterText);
    return false;
  }
  // 2.
  QString portMessage;
  if (!m_engine->checkPorts(&portMessage)) {
    if (!portMessage.isEmpty())
      Msg::error(parent, portMessage);
    return false;
  }
  // 3.
  if (m_host.saveAvailable()) {
    if (Msg::show(parent, QMessageBox::Information, Msg::kHint,
                  QStringLiteral("上次采集数据未保存,现在保存吗？"),
                  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
      emit saveRequested();
      return false;
    }
    m_host.setSaveAvailable(false);
  }
  // 4.
  if (o.SaveMode == static_cast<int>(SaveModeCode::Ask)) {
    m_host.setWorkFile(temporaryFile());
  } else if (o.SaveMode == static_cast<int>(SaveModeCode::Automatic)) {
    if (!QDir(o.SavePath).exists()) {
      Msg::error(parent, RecordingSession::kNoSavePathText);
      m_host.showSavePathSetting();
      return false;
    }
    m_host.setWorkFile(RecordingSession::AutomaticFileName(o.SavePath, o.FileNameHead, QDateTime::currentDateTime()));
  }
  prepareChannels();
  // 5. (The window disables its commands when started() arrives.)
  m_host.setPanelText(1, QStringLiteral("已采样:"));
  m_host.setPanelText(0, QString());
  // 8. comes first, inside: replies are handled from the moment a port is open.
  // 6.
  const StartResult polling = RecordingSession::StartPolling(m_ctx, *m_engine);
  if (polling.status == StartResult::Status::PortFailed) {
    m_host.setPanelText(1, QString());
    Msg::error(parent, polling.message);
    return false;
  }
  // 7.
  // 9. (The X/Y view clears its trace 0 and displays when it is fed.)
  for (int i = 0; i < m_board.viewCount(); ++i)
    m_board.channel(i)->ClearDisplay();
  m_xyFed = m_xy.start && m_xy.samples && m_xy.start();
  // 10. Live data goes to trace 0.
  m_host.setBatchIndex(0);
  // 11.
  QList<ChannelInfo> infos;
  for (int i = 0; i < m_board.viewCount(); ++i)
    infos.append(ChannelRecordOf(*m_board.channel(i)));
  ++m_run;
  m_readThread = std::make_unique<TReadThread>(m_host.workFile(), infos, m_ctx.ring, m_ctx.readSignal);
  m_feed = LiveRecordFeed{m_host.workFile(), static_cast<int>(infos.size())};
  RecordingSession::AttachAlarms(m_ctx, *m_readThread, infos);
  startPublishing();
  const quint64 run = m_run;
  connect(m_readThread.get(), &TReadThread::samples, this, [this, run](const SampleBatch &b) {
    if (run == m_run)
      applyBatch(b);
  });
  connect(m_readThread.get(), &TReadThread::elapsedText, this, [this, run](const QString &t) {
    if (run == m_run)
      m_host.setPanelText(1, t);
  });
  connect(m_readThread.get(), &TReadThread::alarms, this, [this, run](const AlarmEventBatch &events) {
    if (run == m_run)
      emit alarms(events);
  });
  connect(m_readThread.get(), &TReadThread::alarmLogFailed, this, [this, run](const QString &message) {
    if (run == m_run)
      Msg::error(m_host.dialogParent(), message);
  });
  connect(m_readThread.get(), &TReadThread::failed, this, [this, run](const QString &message) {
    if (run != m_run)
      return;
    // Nothing may be lost silently: stop cleanly (the file keeps what was written) and say so.
    if (running())
      Stop();
    Msg::error(m_host.dialogParent(), message);
  });
  // Kept until a clean Stop: found at the next program start, it says this run was cut off.
  // A marker that cannot be written costs only that notice, never the recording.
  (void)RecordingMarker::In(m_ctx.paths.writableDir)
      .write({m_host.workFile(), m_ctx.ring.startTime(), o.SaveMode});
  m_readThread->start();
  emit started();
  // 12.
  RecordingSession::MarkMetersAlive(meters, m_board.viewCount());
  for (int i = 0; i < m_board.viewCount(); ++i) {
    TChannel *c = m_board.channel(i);
    c->SetRange(c->RangeMin(), c->RangeMax());
    m_board.view(i)->pltChannel->setAxisRange(ChartAxis::X, 0, static_cast<double>(o.TimeWindowCount));
  }
  m_board.setSampling(true);
  // 13.
  m_keepMs = o.KeepTimeMs;
  if (o.SampleMode == static_cast<int>(SampleModeCode::Timed) && m_keepMs > 0) {
    m_recordingClock.start();
    armTimedEnd();
  }
  return true;
}

// Settings changed in the dialog take effect at the next start; an unchanged publisher keeps
// its connection.
void AcquisitionControl::startPublishing() {
  const MqttSettings mqtt = MqttSettings::load(*m_ctx.settings);
  if (!mqtt.enabled) {
    m_publisher.reset();
    m_publishingRefresh.stop();
    emit publishingText(QString());
    return;
  }
  if (!m_publisher || !(m_publisher->settings() == mqtt))
    m_publisher = std::make_unique<MqttPublisher>(mqtt);
  RecordingSession::AttachPublisher(m_ctx, *m_publisher, *m_readThread, m_host.workFile(), m_board.viewCount());
  m_publishingRefresh.start();
}

void AcquisitionControl::armTimedEnd() {
  const qint64 left = m_keepMs - m_recordingClock.elapsed();
  m_acquisitionTimer.start(static_cast<int>(std::clamp<qint64>(left, 0, kTimerSliceMs)));
}

void LiveRecordFeed::apply(ViewBoard &board, const SampleBatch &batch, int timeUnit) {
  if (!attached) {
    attached = true;
    // Without the file (it cannot be opened) the traces keep the samples in memory.
    (void)board.backTracesWithFile(file, fileChannels, timeUnit);
  }
  const int views = board.viewCount();
  for (const TSampleRecord &r : batch) {
    const qint64 record = nextRecord++;
    const qint32 ch = r.Channel;
    if (ch >= 0 && ch < views)
      board.channel(ch)->SetSample(r.Value, r.Time, record);
  }
}

void AcquisitionControl::applyBatch(const SampleBatch &batch) {
  m_feed.apply(m_board, batch, m_ctx.options.TimeWindowUnit);
  if (m_xyFed)
    m_xy.samples(std::span<const TSampleRecord>(batch.constData(), static_cast<size_t>(batch.size())));
}

void AcquisitionControl::Stop() {
  // 1. No search can be pending: the window offers none while a recording runs.
  // 2.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // 3./4. Polling ends, then the read thread drains the ring and closes the file.
  const bool wasRecording = m_readThread != nullptr;
  RecordingSession::Finish(m_ctx, *m_engine, m_readThread);
  // The recording ended cleanly: the next start has nothing to ask about.
  if (wasRecording)
    RecordingMarker::In(m_ctx.paths.writableDir).remove();
  // The read thread has handed its last batch to the publisher before it ended.
  if (m_publisher && wasRecording)
    m_publisher->endRecording();
  // 5. (The window enables its commands again when stopped() arrives.)
  // 6. Batches still queued for the views arrive after this; a recording with data in the ring
  // counts as well.
  if (m_ctx.options.SaveMode == static_cast<int>(SaveModeCode::Ask)) {
    bool any = false;
    for (int i = 0; i < m_board.viewCount() && !any; ++i)
      any = m_board.view(i)->pltChannel->pointCount(0) > 0;
    const qint64 head = DataFileFormat::kHeadSize + DataFileFormat::kChannelRecordSize * m_board.viewCount();
    if (any || QFileInfo(m_host.workFile()).size() >= head + DataFileFormat::kSampleSize)
      m_host.setSaveAvailable(true);
  }
  // 7. The data cursor is never disabled.
  QApplication::restoreOverrideCursor();
  // 8.
  m_board.setSampling(false);
  // 9.
  m_acquisitionTimer.stop();
  emit stopped();
}
