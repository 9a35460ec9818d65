#include "acquisition/RecordingFiles.h"

#include "acquisition/AcquisitionControl.h"
#include "acquisition/DataBlock.h"
#include "acquisition/DataFile.h"
#include "acquisition/TChannel.h"
#include "acquisition/TimeUnits.h"
#include "app/AppContext.h"
#include "app/MessageBoxes.h"
#include "app/TfrmMain.h"
#include "views/DotMatrixDisplay.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QThread>

#include <vector>

RecordingFiles::RecordingFiles(AppContext &ctx, TfrmMain &main, ViewBoard &board, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_main(main), m_board(board) {
  const QString filter = QStringLiteral("ZERVO Data File (*.zvdat *.ZVDAT)");
  chooseOpenFile = [this, filter]() -> std::optional<QString> {
    const QString f = QFileDialog::getOpenFileName(&m_main, QString(), QString(), filter);
    return f.isEmpty() ? std::nullopt : std::optional<QString>(f);
  };
  chooseSaveFile = [this, filter](const QString &folder, const QString &proposed) -> std::optional<QString> {
    QFileDialog d(&m_main, QString(), folder, filter);
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setDefaultSuffix(QStringLiteral("zvdat"));
    d.selectFile(proposed);
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
      return std::nullopt;
    return d.selectedFiles().first();
  };
}

RecordingFiles::~RecordingFiles() = default;

void RecordingFiles::Open(int batch) {
  // 1.
  m_main.BatchIndex = std::clamp(batch, 0, kChannelChartTraces - 1);
  // 2.
  if (m_main.btnSave->isEnabled() &&
      Msg::show(&m_main, QMessageBox::Information, Msg::kHint, QStringLiteral("上次采集数据未保存,现在保存吗？"),
                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
    Save();
  // 3.
  const std::optional<QString> path = chooseOpenFile();
  if (path)
    LoadByPath(*path);
}

bool RecordingFiles::LoadByPath(const QString &path) {
  // 4.
  m_block.reset();
  auto block = std::make_unique<TDataBlock>(TDataBlock::load(path));
  if (block->status != DataFileStatus::Loaded) {
    Msg::error(&m_main, QStringLiteral("错误的数据文件格式！"));
    return false;
  }
  const int n = block->channelCount;
  if (m_board.viewCount() != n)
    m_board.BuildChannelViews(n);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  replay(*block);
  QApplication::restoreOverrideCursor();

  // 5.
  const QString duration = DurationText(block->lastTime);
  // 6.
  for (int i = 0; i < m_board.viewCount(); ++i) {
    TfraChannel *v = m_board.view(i);
    v->setBaseButton(false, false);
    v->pltChannel->zoomToFit(ChartAxis::X);
    v->pltChannel->setTracking(ChartAxis::X, false);
    v->pltChannel->requestReplot();
  }
  // 7. The file's records describe its channels; Sys.ini keeps the configured ones.
  for (int i = 0; i < std::min(n, m_board.viewCount()); ++i) {
    const std::optional<TChannelRecord> r = block->channelRecord(i);
    if (!r)
      continue;
    TChannel *c = m_board.channel(i);
    c->setPhysicalChannel(r->info.physicalChannel);
    c->setTitle(r->info.title);
    c->setMeasureUnit(r->info.measureUnit);
    c->SetRange(r->info.rangeMin, r->info.rangeMax);
    c->setScale(r->info.scale);
    c->setOffset(r->info.offset);
  }
  // 8./9.
  m_main.setPanelText(1, QStringLiteral("采样时长: ") + duration);
  m_main.btnCursor->setEnabled(true);
  m_main.btnPrint->setEnabled(true);
  m_main.setWorkFile(path);
  m_block = std::move(block);
  return true;
}

void RecordingFiles::replay(const TDataBlock &block) {
  const int batch = m_main.BatchIndex;
  const int n = std::min<int>(block.channelCount, m_board.viewCount());
  const int unit = m_ctx.options.TimeWindowUnit;
  // 8.1
  for (int i = 0; i < n; ++i) {
    TfraChannel *v = m_board.view(i);
    v->pltChannel->setTraceInLegend(batch, true);
    v->pltChannel->clearTrace(batch);
    if (i < kMeterSlots)
      m_ctx.meters.Meters[static_cast<size_t>(i)].MeterValue.store(kNoValue);
    v->lblMin->clear();
    v->lblCurrentValue->clear();
    v->lblMax->clear();
    v->iLCDCurrentValue->setText(QString());
  }
  // 8.2
  const bool feedXY = m_xy.begin && m_xy.sample && m_xy.begin(batch, block.channelCount);
  // 8.3 One pass over the file: points collected per channel, then handed over in bulk. The
  // channels' sizes are counted first so that the points go straight into place.
  std::vector<qsizetype> counts(static_cast<size_t>(n), 0);
  for (const TSampleRecord &r : block.samples) {
    const qint32 ch = r.Channel;
    if (ch >= 0 && ch < n)
      ++counts[static_cast<size_t>(ch)];
  }
  std::vector<QVector<double>> xs(static_cast<size_t>(n)), ys(static_cast<size_t>(n));
  std::vector<double *> xp(static_cast<size_t>(n)), yp(static_cast<size_t>(n));
  for (size_t c = 0; c < static_cast<size_t>(n); ++c) {
    xs[c].resize(counts[c]);
    ys[c].resize(counts[c]);
    xp[c] = xs[c].data();
    yp[c] = ys[c].data();
  }
  for (const TSampleRecord &r : block.samples) {
    const qint32 ch = r.Channel;
    if (ch < 0 || ch >= n)
      continue; // a sample of a channel the file does not describe
    const double value = r.Value;
    const double time = r.Time;
    *xp[static_cast<size_t>(ch)]++ = ToDisplayTime(time, unit);
    *yp[static_cast<size_t>(ch)]++ = value;
    if (ch < kMeterSlots)
      m_ctx.meters.Meters[static_cast<size_t>(ch)].MeterValue.store(value);
    if (feedXY)
      m_xy.sample(ch, value);
  }
  // 8.4
  for (int i = 0; i < n; ++i) {
    PlotChart *p = m_board.view(i)->pltChannel;
    p->addPoints(batch, xs[static_cast<size_t>(i)], ys[static_cast<size_t>(i)], true);
    p->requestReplot();
    if (const auto mx = p->maxY(batch))
      m_board.view(i)->lblMax->setText(m_ctx.formats.formatValue(i, *mx));
    if (const auto mn = p->minY(batch))
      m_board.view(i)->lblMin->setText(m_ctx.formats.formatValue(i, *mn));
  }
}

void RecordingFiles::Save() {
  // 1.
  const QString folder = m_ctx.options.OpenPath;
  const QString proposed = m_ctx.options.FileNameHead +
                           QDateTime::currentDateTime().toString(QStringLiteral("yy-MM-dd hh.mm.ss")) +
                           QStringLiteral(".zvdat");
  const std::optional<QString> target = chooseSaveFile(folder, proposed);
  if (!target)
    return;
  // 2.
  m_ctx.settings->writeString(Sections::System, QStringLiteral("OpenPath"), folder);
  // 3.
  m_main.btnSave->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  m_main.setPanelText(1, QStringLiteral("数据文件保存中，请稍后..."));
  // 4. Copy to a temporary name beside the target first, so a failed copy never leaves a
  // half file under the chosen name, and the old file stays until the new one is complete.
  const QString source = m_main.acquisition() ? m_main.acquisition()->temporaryFile() : QString();
  const QString partial = *target + QStringLiteral(".part");
  QFile::remove(partial);
  bool ok = QFile::copy(source, partial);
  if (ok) {
    QFile::remove(*target);
    ok = QFile::rename(partial, *target);
  }
  if (!ok)
    QFile::remove(partial);
  QApplication::restoreOverrideCursor();
  if (!ok) {
    // The recording stays in the temporary file and can be saved again.
    m_main.btnSave->setEnabled(true);
    m_main.setPanelText(1, QStringLiteral("数据文件保存失败"));
    Msg::error(&m_main, QStringLiteral("数据文件保存失败！\n%1").arg(*target));
    return;
  }
  // 5.
  m_main.setPanelText(1, QStringLiteral("数据文件保存完成"));
  Msg::show(&m_main, QMessageBox::Information, Msg::kHint, QStringLiteral("数据文件保存完成！"), QMessageBox::Ok);
}

void RecordingFiles::ClearChannelData() {
  m_board.clearAllData();
  if (m_xy.clear)
    m_xy.clear();
}
