#include "acquisition/RecordingFiles.h"

#include "acquisition/AlarmLog.h"
#include "acquisition/AcquisitionControl.h"
#include "acquisition/ChannelSettings.h"
#include "acquisition/DataFileReader.h"
#include "acquisition/DataFile.h"
#include "acquisition/RecordingHost.h"
#include "acquisition/RecordingMarker.h"
#include "acquisition/TChannel.h"
#include "acquisition/TimeUnits.h"
#include "app/AppContext.h"
#include "app/Conversions.h"
#include "app/MessageBoxes.h"
#include "views/DotMatrixDisplay.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTemporaryFile>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include <unistd.h>
#include <vector>

namespace {

// The progress window of a long open. Until the pass has taken progressAfterMs it stays away
// and events wait, so a short open is one uninterrupted step as before; after that the window
// shows the share of the file read and events are served between chunks, so the window keeps
// painting. The host refuses other commands meanwhile.
class OpenProgress {
public:
  static constexpr int kSteps = 100;
  OpenProgress(RecordingHost &host, int progressAfterMs) : m_host(host), m_afterMs(progressAfterMs) {
    m_clock.start();
  }
  ~OpenProgress() {
    if (m_bar)
      delete m_bar->window();
  }
  OpenProgress(const OpenProgress &) = delete;
  OpenProgress &operator=(const OpenProgress &) = delete;

  void advance(qint64 done, qint64 total) {
    if (!m_shown) {
      if (m_clock.elapsed() < m_afterMs)
        return;
      m_shown = true;
      m_bar = m_host.createProgressWindow(kSteps);
    }
    if (m_bar)
      m_bar->setValue(total > 0 ? static_cast<int>(std::min(done, total) * kSteps / total) : kSteps);
    QCoreApplication::processEvents();
  }

private:
  RecordingHost &m_host;
  int m_afterMs;
  QElapsedTimer m_clock;
  bool m_shown = false;
  QPointer<QProgressBar> m_bar;
};

// A second thread for the open pass: given a task, runs it while the caller does its own part,
// and wait() returns once it has finished. Without a thread to be had the task runs in wait().
class PassWorker {
public:
  PassWorker() {
    try {
      m_thread = std::jthread([this](std::stop_token stop) { loop(stop); });
    } catch (const std::system_error &) {
    }
  }
  ~PassWorker() {
    if (m_thread.joinable()) {
      m_thread.request_stop();
      const std::lock_guard lock(m_mutex);
      m_wake.notify_all();
    }
  }
  PassWorker(const PassWorker &) = delete;
  PassWorker &operator=(const PassWorker &) = delete;

  void start(std::function<void()> task) {
    const std::lock_guard lock(m_mutex);
    m_task = std::move(task);
    m_busy = true;
    m_wake.notify_all();
  }
  void wait() {
    if (!m_thread.joinable()) {
      if (m_task)
        std::exchange(m_task, {})();
      m_busy = false;
      return;
    }
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return !m_busy; });
  }

private:
  void loop(const std::stop_token &stop) {
    std::unique_lock lock(m_mutex);
    for (;;) {
      m_wake.wait(lock, [&] { return stop.stop_requested() || (m_busy && m_task); });
      if (stop.stop_requested())
        return;
      std::function<void()> task = std::exchange(m_task, {});
      lock.unlock();
      task();
      lock.lock();
      m_busy = false;
      m_done.notify_all();
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_done;
  std::function<void()> m_task;
  bool m_busy = false;
  std::jthread m_thread; // last: it stops before what it uses goes
};

} // namespace

RecordingFiles::RecordingFiles(AppContext &ctx, RecordingHost &host, ViewBoard &board,
                               const AcquisitionControl &acquisition, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_host(host), m_acquisition(acquisition), m_board(board) {
  const QString filter = QStringLiteral("ZERVO Data File (*.zvdat *.ZVDAT)");
  chooseOpenFile = [this, filter]() -> std::optional<QString> {
    const QString f = QFileDialog::getOpenFileName(m_host.dialogParent(), QString(), QString(), filter);
    return f.isEmpty() ? std::nullopt : std::optional<QString>(f);
  };
  chooseSaveFile = [this, filter](const QString &folder, const QString &proposed) -> std::optional<QString> {
    QFileDialog d(m_host.dialogParent(), QString(), folder, filter);
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setDefaultSuffix(QStringLiteral("zvdat"));
    d.selectFile(proposed);
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
      return std::nullopt;
    return d.selectedFiles().first();
  };
}

RecordingFiles::~RecordingFiles() = default;

bool ReplaceByCopy(const QString &source, const QString &target, QString *error) {
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) {
    *error = in.errorString();
    return false;
  }
  const QFileInfo ti(target);
  // A name of our own beside the target: the rename below then stays on one file system, and
  // no file this program did not create is ever removed.
  QTemporaryFile out(ti.absolutePath() + QLatin1Char('/') + ti.fileName() + QStringLiteral(".XXXXXX.part"));
  if (!out.open()) {
    *error = out.errorString();
    return false;
  }
  // The temporary file is private; the saved recording keeps the replaced file's permissions.
  out.setPermissions(ti.exists() ? QFile::permissions(target)
                                 : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                       QFileDevice::ReadOther);
  constexpr qint64 kChunk = 1 << 20;
  while (!in.atEnd()) {
    const QByteArray chunk = in.read(kChunk);
    if (chunk.isEmpty() && in.error() != QFileDevice::NoError) {
      *error = in.errorString();
      return false;
    }
    if (out.write(chunk) != chunk.size()) {
      *error = out.errorString();
      return false;
    }
  }
  // On disk before it takes the name, so a crash leaves the old file or the whole new one.
  if (!out.flush()) {
    *error = out.errorString();
    return false;
  }
  if (::fsync(out.handle()) != 0) {
    *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  if (std::rename(QFile::encodeName(out.fileName()).constData(), QFile::encodeName(target).constData()) != 0) {
    *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  out.setAutoRemove(false);
  return true;
}

bool RecordingFiles::refusedWhileRecording() {
  if (!m_acquisition.running())
    return false;
  Msg::notice(m_host.dialogParent(), kStopFirstText);
  return true;
}

void RecordingFiles::Open(int batch) {
  if (refusedWhileRecording())
    return;
  // 1.
  m_host.setBatchIndex(std::clamp(batch, 0, kChannelChartTraces - 1));
  // 2.
  if (m_host.saveAvailable() &&
      Msg::show(m_host.dialogParent(), QMessageBox::Information, Msg::kHint, QStringLiteral("上次采集数据未保存,现在保存吗？"),
                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
    Save();
  // 3.
  const std::optional<QString> path = chooseOpenFile();
  if (path)
    LoadByPath(*path);
}

bool RecordingFiles::LoadByPath(const QString &path) {
  if (refusedWhileRecording())
    return false;
  // 4. Head and records first; the samples follow in one pass, a chunk at a time, and are not
  // kept: the charts hold what they need of them.
  m_file.reset();
  DataFileReader reader(path, openPace.chunkBytes);
  std::span<const TSampleRecord> chunk;
  if (reader.summary().status == DataFileStatus::Loaded)
    chunk = reader.next(); // a file without a whole sample is refused before a chart is touched
  if (reader.summary().status != DataFileStatus::Loaded) {
    Msg::error(m_host.dialogParent(), kWrongFileText);
    return false;
  }
  const int n = reader.summary().channelCount;
  if (m_board.viewCount() != n)
    m_board.BuildChannelViews(n);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  m_host.setOpening(true);
  replay(reader, chunk);
  m_host.setOpening(false);
  QApplication::restoreOverrideCursor();
  auto summary = std::make_unique<DataFileSummary>(reader.summary());
  if (summary->status != DataFileStatus::Loaded) {
    // A read failed during the pass: the charts keep what was replayed until then.
    Msg::error(m_host.dialogParent(), kWrongFileText);
    return false;
  }

  // 5.
  const QString duration = DurationText(summary->lastTime);
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
    const std::optional<TChannelRecord> r = summary->channelRecord(i);
    if (!r)
      continue;
    ApplyChannelRecord(*m_board.channel(i), r->info);
  }
  // 8./9. (The data cursor and print are never disabled by a file.)
  m_host.setPanelText(1, QStringLiteral("采样时长: ") + duration);
  m_host.setWorkFile(path);
  m_file = std::move(summary);
  return true;
}

void RecordingFiles::replay(DataFileReader &reader, std::span<const TSampleRecord> chunk) {
  const int batch = m_host.batchIndex();
  const int n = std::min<int>(reader.summary().channelCount, m_board.viewCount());
  const int unit = m_ctx.options.TimeWindowUnit;
  // 8.1 Each channel's trace draws from the file itself: the pass below builds its summaries
  // and keeps no sample in memory. (Should the file not open a second time, the trace keeps
  // its samples in memory instead.)
  const double msPerUnit = UnitToMillisecondsF(unit);
  const double xScale = msPerUnit > 0 ? 1.0 / msPerUnit : 1.0;
  std::vector<SampleStore *> stores(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    TfraChannel *v = m_board.view(i);
    v->pltChannel->setTraceInLegend(batch, true);
    v->pltChannel->clearTrace(batch);
    auto store = SampleStore::openFile(reader.summary().fileName, reader.summary().channelCount, i);
    if (!store)
      store = std::make_shared<SampleStore>();
    stores[static_cast<size_t>(i)] = store.get();
    v->pltChannel->setTraceStore(batch, std::move(store), xScale);
    if (i < kMeterSlots)
      m_ctx.meters.Meters[static_cast<size_t>(i)].MeterValue.store(kNoValue);
    v->lblMin->clear();
    v->lblCurrentValue->clear();
    v->lblMax->clear();
    v->iLCDCurrentValue->setText(QString());
  }
  // 8.2
  const bool feedXY = m_xy.begin && m_xy.pair && m_xy.add && m_xy.begin(batch, reader.summary().channelCount);
  // 8.3 One pass over the file: each sample straight into its channel's store, with its index
  // among the file's records; the charts learn of the growth chunk by chunk. Two threads share
  // the work, each appending to its own channels' stores (a store is only ever touched by one
  // of them, and the charts only read them between chunks). The other thread also pairs the
  // X/Y view's points, which this one then adds to its chart, so it takes fewer channels then
  // (measured: pairing costs about as much as two channels' stores).
  // Each thread's own last values: one vector written by both would share its cache lines.
  std::array<std::vector<std::optional<double>>, 2> lastValues;
  for (auto &v : lastValues)
    v.resize(static_cast<size_t>(n));
  std::vector<qint64> countBefore(static_cast<size_t>(n), 0);
  std::vector<char> onWorker(static_cast<size_t>(n), 0);
  for (int i = 0; i < n; ++i)
    onWorker[static_cast<size_t>(i)] = feedXY ? i % 5 < 2 : i % 2 != 0;
  const auto appendPart = [&](std::span<const TSampleRecord> records, qint64 first, char worker) {
    auto &lastValue = lastValues[static_cast<size_t>(worker)];
    qint64 index = first;
    for (const TSampleRecord &r : records) {
      const qint32 ch = r.Channel;
      // A sample of a channel the file does not describe is skipped.
      if (ch >= 0 && ch < n && onWorker[static_cast<size_t>(ch)] == worker) {
        const double value = r.Value;
        stores[static_cast<size_t>(ch)]->append(r.Time, value, index);
        lastValue[static_cast<size_t>(ch)] = value;
      }
      ++index;
    }
  };
  std::vector<QPointF> xyPoints;
  PassWorker worker;
  OpenProgress progress(m_host, openPace.progressAfterMs);
  // The progress window paints between chunks; the charts wait for the end of the pass.
  m_board.holdReplots(true);
  qint64 record = 0;
  for (; !chunk.empty(); chunk = reader.next()) {
    worker.start([&, chunk, record] {
      appendPart(chunk, record, 1);
      if (feedXY)
        m_xy.pair(chunk, xyPoints);
    });
    appendPart(chunk, record, 0);
    worker.wait();
    if (feedXY)
      m_xy.add(xyPoints);
    record += static_cast<qint64>(chunk.size());
    for (int i = 0; i < n; ++i) {
      const auto c = static_cast<size_t>(i);
      if (stores[c]->count() == countBefore[c])
        continue;
      countBefore[c] = stores[c]->count();
      m_board.view(i)->pltChannel->traceStoreGrew(batch);
    }
    progress.advance(reader.bytesRead(), reader.bytesTotal());
  }
  m_board.holdReplots(false);
  // 8.4 The meters show each channel's last value, the labels the trace's extremes.
  for (int i = 0; i < n; ++i) {
    const std::optional<double> &last = lastValues[static_cast<size_t>(onWorker[static_cast<size_t>(i)])][static_cast<size_t>(i)];
    if (i < kMeterSlots && last)
      m_ctx.meters.Meters[static_cast<size_t>(i)].MeterValue.store(*last);
    PlotChart *p = m_board.view(i)->pltChannel;
    p->requestReplot();
    if (const auto mx = p->maxY(batch))
      m_board.view(i)->lblMax->setText(m_ctx.formats.formatValue(i, *mx));
    if (const auto mn = p->minY(batch))
      m_board.view(i)->lblMin->setText(m_ctx.formats.formatValue(i, *mn));
  }
}

void RecordingFiles::Save() {
  if (refusedWhileRecording())
    return;
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
  m_host.setSaveAvailable(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  m_host.setPanelText(1, QStringLiteral("数据文件保存中，请稍后..."));
  // 4.
  QString error;
  const bool ok = ReplaceByCopy(m_acquisition.temporaryFile(), *target, &error);
  QApplication::restoreOverrideCursor();
  if (!ok) {
    // The recording stays in the temporary file and can be saved again.
    m_host.setSaveAvailable(true);
    m_host.setPanelText(1, QStringLiteral("数据文件保存失败"));
    Msg::error(m_host.dialogParent(), QStringLiteral("数据文件保存失败！\n%1\n%2").arg(*target, error));
    return;
  }
  // The event log goes along, the same safe way; the data is saved even when the log is not.
  const QString logSource = AlarmLog::PathFor(m_acquisition.temporaryFile());
  const QString logTarget = AlarmLog::PathFor(*target);
  if (QFile::exists(logSource)) {
    if (!ReplaceByCopy(logSource, logTarget, &error))
      Msg::error(m_host.dialogParent(), QStringLiteral("报警记录保存失败！\n%1\n%2").arg(logTarget, error));
  } else {
    // A log beside the target tells of the recording just replaced.
    QFile::remove(logTarget);
  }
  // 5.
  m_host.setPanelText(1, QStringLiteral("数据文件保存完成"));
  Msg::show(m_host.dialogParent(), QMessageBox::Information, Msg::kHint, QStringLiteral("数据文件保存完成！"),
            QMessageBox::Ok);
}

void RecordingFiles::ClearChannelData() {
  m_board.clearAllData();
  if (m_xy.clear)
    m_xy.clear();
}

void RecordingFiles::CheckUnfinishedRecording() {
  if (m_acquisition.running())
    return;
  const RecordingMarker marker = RecordingMarker::In(m_ctx.paths.writableDir);
  const std::optional<UnfinishedRecording> found = FindUnfinishedRecording(marker, m_acquisition.temporaryFile());
  if (!found) {
    marker.remove();
    return;
  }
  QWidget *parent = m_host.dialogParent();
  if (!found->offerSave) {
    Msg::notice(parent, found->text());
    marker.remove();
    return;
  }
  // Unsaved like a recording that stopped: Start and Open ask before it is overwritten.
  m_host.setSaveAvailable(true);
  if (Msg::show(parent, QMessageBox::Information, Msg::kHint, found->text(), QMessageBox::Yes | QMessageBox::No) ==
      QMessageBox::Yes)
    Save();
  else
    m_host.setSaveAvailable(false);
  if (!m_host.saveAvailable())
    marker.remove();
}
