#include "acquisition/AcquisitionControl.h"

#include "acquisition/TChannel.h"
#include "app/AppContext.h"
#include "app/MessageBoxes.h"
#include "app/TfrmMain.h"
#include "comm/PollingEngine.h"
#include "comm/SearchCommand.h"
#include "dialogs/TfrmSetup.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabWidget>

namespace {
// The longest single wait of the timed end; longer keep times are chained, so a recording of
// weeks ends on time instead of at the truncated 32-bit interval.
constexpr qint64 kTimerSliceMs = 3600000;
} // namespace

AcquisitionControl::AcquisitionControl(AppContext &ctx, TfrmMain &main, ViewBoard &board, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_main(main), m_board(board),
      m_engine(std::make_unique<PollingEngine>(ctx, ctx.ring, ctx.formats, ctx.readSignal, ctx.abandonSignal)) {
  m_acquisitionTimer.setSingleShot(true);
  connect(&m_acquisitionTimer, &QTimer::timeout, this, [this] {
    if (m_recordingClock.elapsed() >= m_keepMs)
      Stop();
    else
      armTimedEnd();
  });
  connect(m_engine.get(), &PollingEngine::portFailed, this, [this](int, const QString &message) {
    // Not modal: the other ports keep recording while the operator reads it.
    auto *box = new QMessageBox(QMessageBox::Critical, Msg::kError, message, QMessageBox::Ok, &m_main);
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

QString AcquisitionControl::AutomaticFileName(const QString &folder, const QString &head,
                                              const QDateTime &when) {
  return folder + QLatin1Char('/') + head + when.toString(QStringLiteral("yy-MM-dd hh.mm.ss")) +
         QStringLiteral(".zvdat");
}

void AcquisitionControl::setRunningState(bool on) {
  m_main.btnStart->setEnabled(!on);
  m_main.MenuStart->setEnabled(!on);
  m_main.btnOpen->setEnabled(!on);
  m_main.MenuOpen->setEnabled(!on);
  m_main.btnMeterConfigure->setEnabled(!on);
  m_main.MenuMeterConfigure->setEnabled(!on);
  m_main.btnStop->setEnabled(on);
  m_main.MenuStop->setEnabled(on);
}

bool AcquisitionControl::Start() {
  if (running() || (m_main.search() && m_main.search()->running()))
    return running();
  Options &o = m_ctx.options;
  MeterTable &meters = m_ctx.meters;
  // 1.
  if (meters.MeterAmount < 1) {
    Msg::error(&m_main, QStringLiteral("没有有效仪表！"));
    return false;
  }
  // 2.
  QString portMessage;
  if (!m_engine->checkPorts(&portMessage)) {
    if (!portMessage.isEmpty())
      Msg::error(&m_main, portMessage);
    return false;
  }
  // 3.
  if (m_main.btnSave->isEnabled()) {
    if (Msg::show(&m_main, QMessageBox::Information, Msg::kHint,
                  QStringLiteral("上次采集数据未保存,现在保存吗？"),
                  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
      m_main.btnSaveClick();
      return false;
    }
    m_main.btnSave->setEnabled(false);
  }
  // 4.
  if (o.SaveMode == static_cast<int>(SaveModeCode::Ask)) {
    m_main.setWorkFile(temporaryFile());
  } else if (o.SaveMode == static_cast<int>(SaveModeCode::Automatic)) {
    if (!QDir(o.SavePath).exists()) {
      Msg::error(&m_main, QStringLiteral("默认保存路径不存在，请重新选择！"));
      if (TfrmSetup *setup = m_main.dialogs().frmSetup) {
        setup->PageControl1->setCurrentIndex(2);
        QTimer::singleShot(0, setup->edtSavePath, [setup] { setup->edtSavePath->setFocus(); });
        setup->exec();
      }
      return false;
    }
    m_main.setWorkFile(AutomaticFileName(o.SavePath, o.FileNameHead, QDateTime::currentDateTime()));
  }
  // 5.
  setRunningState(true);
  m_main.setPanelText(1, QStringLiteral("已采样:"));
  m_main.setPanelText(0, QString());
  // The ring and the start time are reset before any port opens: replies are handled on the
  // communication thread from the moment a port is open.
  m_ctx.ring.reset();
  m_ctx.ring.setStartTime();
  for (int i = 0; i < kMeterSlots; ++i)
    meters.Meters[static_cast<size_t>(i)].MeterValue.store(kNoValue);
  // 6.
  m_engine->setSampleIntervalMs(o.SampleIntervalMs);
  const StartResult polling = m_engine->start(meters.MeterComCount);
  if (polling.status == StartResult::Status::PortFailed) {
    setRunningState(false);
    m_main.setPanelText(1, QString());
    Msg::error(&m_main, polling.message);
    return false;
  }
  // 7.
  // 9. (The X/Y view clears its trace 0 and displays when it is fed.)
  for (int i = 0; i < m_board.viewCount(); ++i)
    m_board.channel(i)->ClearDisplay();
  m_xyFed = m_xy.start && m_xy.sample && m_xy.start();
  // 10. Live data goes to trace 0.
  m_main.BatchIndex = 0;
  // 11.
  QList<ChannelInfo> infos;
  for (int i = 0; i < m_board.viewCount(); ++i) {
    const TChannel *c = m_board.channel(i);
    infos.append({c->PhysicalChannel(), c->Title(), c->MeasureUnit(), c->RangeMin(), c->RangeMax(),
                  c->Scale(), c->Offset()});
  }
  ++m_run;
  m_readThread = std::make_unique<TReadThread>(m_main.WorkFile(), infos, m_ctx.ring, m_ctx.readSignal);
  const quint64 run = m_run;
  connect(m_readThread.get(), &TReadThread::samples, this, [this, run](const SampleBatch &b) {
    if (run == m_run)
      applyBatch(b);
  });
  connect(m_readThread.get(), &TReadThread::elapsedText, this, [this, run](const QString &t) {
    if (run == m_run)
      m_main.setPanelText(1, t);
  });
  connect(m_readThread.get(), &TReadThread::failed, this, [this, run](const QString &message) {
    if (run != m_run)
      return;
    // Nothing may be lost silently: stop cleanly (the file keeps what was written) and say so.
    if (running())
      Stop();
    Msg::error(&m_main, message);
  });
  m_main.ReadThread = m_readThread.get();
  m_readThread->start();
  // 12.
  for (int i = 0; i < m_board.viewCount(); ++i) {
    if (i < kMeterSlots)
      meters.Meters[static_cast<size_t>(i)].MeterAlive.store(true);
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
  emit started();
  return true;
}

void AcquisitionControl::armTimedEnd() {
  const qint64 left = m_keepMs - m_recordingClock.elapsed();
  m_acquisitionTimer.start(static_cast<int>(std::clamp<qint64>(left, 0, kTimerSliceMs)));
}

void AcquisitionControl::applyBatch(const SampleBatch &batch) {
  const int views = m_board.viewCount();
  for (const TSampleRecord &r : batch) {
    const qint32 ch = r.Channel;
    const double value = r.Value;
    const double time = r.Time;
    if (ch >= 0 && ch < views)
      m_board.channel(ch)->SetSample(value, time);
    if (m_xyFed)
      m_xy.sample(ch, value);
  }
}

void AcquisitionControl::Stop() {
  // 1.
  if (m_main.search() && m_main.search()->running())
    m_main.search()->abort();
  // 2.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // 3. No request is written once this returns.
  m_engine->stop();
  // 4. The read thread drains the ring, writes the last samples and closes the file.
  if (m_readThread) {
    m_ctx.abandonSignal.set();
    m_readThread->stopAndWait();
    m_readThread.reset();
  }
  m_main.ReadThread = nullptr;
  // 5.
  setRunningState(false);
  m_main.btnPrint->setEnabled(true);
  m_main.MenuPrint->setEnabled(true);
  // 6. Batches still queued for the views arrive after this; a recording with data in the ring
  // counts as well.
  if (m_ctx.options.SaveMode == static_cast<int>(SaveModeCode::Ask)) {
    bool any = false;
    for (int i = 0; i < m_board.viewCount() && !any; ++i)
      any = m_board.view(i)->pltChannel->pointCount(0) > 0;
    const qint64 head = DataFileFormat::kHeadSize + DataFileFormat::kChannelRecordSize * m_board.viewCount();
    if (any || QFileInfo(m_main.WorkFile()).size() >= head + DataFileFormat::kSampleSize)
      m_main.btnSave->setEnabled(true);
  }
  // 7.
  m_main.btnCursor->setEnabled(true);
  QApplication::restoreOverrideCursor();
  // 8.
  m_board.setSampling(false);
  // 9.
  m_acquisitionTimer.stop();
  emit stopped();
}
