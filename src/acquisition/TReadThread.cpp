#include "acquisition/TReadThread.h"

#include "acquisition/AutoResetEvent.h"
#include "acquisition/DataFileWriter.h"
#include "acquisition/SampleRing.h"

#include <chrono>
#include <cstring>
#include <vector>

TReadThread::TReadThread(QString path, QList<ChannelInfo> channels, SampleRing &ring,
                         AutoResetEvent &readSignal, QObject *parent)
    : QThread(parent), m_path(std::move(path)), m_channels(std::move(channels)), m_ring(ring),
      m_readSignal(readSignal) {
  qRegisterMetaType<SampleBatch>();
  qRegisterMetaType<AlarmEventBatch>();
}

void TReadThread::setAlarmMonitor(std::unique_ptr<AlarmMonitor> monitor, QDateTime start) {
  m_alarms = std::move(monitor);
  m_alarmStart = std::move(start);
}

TReadThread::~TReadThread() { stopAndWait(); }

void TReadThread::stopAndWait() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  wait();
}

QString TReadThread::ElapsedText(qint64 e) {
  return QStringLiteral("已采样: %1小时%2分钟%3秒").arg(e / 3600).arg((e % 3600) / 60).arg(e % 60);
}

void TReadThread::run() {
  DataFileWriter writer;
  if (!writer.open(m_path) || !writer.writeHead(m_channels)) {
    emit failed(QStringLiteral("数据文件无法创建：%1\n%2").arg(m_path, writer.errorString()));
    return;
  }
  m_readSignal.set();

  const auto sync = [this](int fd) {
    const int rc = m_sync ? m_sync(fd) : DataFileSyncer::FdataSync(fd);
    if (rc == 0)
      m_syncs.fetch_add(1);
    return rc;
  };
  DataFileSyncer syncer(writer.handle(), sync);
  const auto syncFailed = [&](int code) {
    emit failed(QStringLiteral("数据文件写入磁盘失败，采集已停止：%1\n%2")
                    .arg(m_path, QString::fromLocal8Bit(std::strerror(code))));
  };

  const QString alarmPath = AlarmLog::PathFor(m_path);
  AlarmLog alarmLog;
  std::unique_ptr<DataFileSyncer> alarmSyncer;
  if (m_alarms) {
    QFile::remove(alarmPath);
    if (m_alarms->any()) {
      if (alarmLog.open(alarmPath, m_alarmStart))
        alarmSyncer = std::make_unique<DataFileSyncer>(alarmLog.handle(), m_sync);
      else
        emit alarmLogFailed(QStringLiteral("报警记录无法创建：%1\n%2").arg(alarmPath, alarmLog.errorString()));
    }
  }
  // One decision per sample written; cheap comparisons, the file write only when something changed.
  const auto decide = [&](auto begin, auto end) {
    if (!m_alarms || !m_alarms->any())
      return;
    for (auto it = begin; it != end; ++it)
      m_alarms->feed(*it);
    if (!m_alarms->hasEvents())
      return;
    const AlarmEventBatch events = m_alarms->takeEvents();
    if (alarmLog.isOpen()) {
      if (alarmLog.append(events)) {
        alarmSyncer->written();
      } else {
        emit alarmLogFailed(QStringLiteral("报警记录写入失败：%1\n%2").arg(alarmPath, alarmLog.errorString()));
        alarmSyncer->stop();
        alarmLog.close();
      }
    }
    emit alarms(events);
  };
  const auto closeAlarmLog = [&] {
    if (!alarmLog.isOpen())
      return;
    alarmSyncer->stop();
    (void)DataFileSyncer::FdataSync(alarmLog.handle());
    alarmLog.close();
  };

  std::vector<TSampleRecord> pass;
  pass.reserve(4096);
  // The views get the samples of several passes at once: a batch each millisecond would make
  // the UI thread repaint the displays a thousand times a second at high sample rates.
  std::vector<TSampleRecord> forViews;
  auto lastHandOver = std::chrono::steady_clock::now();
  const auto handOver = [&] {
    if (!forViews.empty())
      emit samples(SampleBatch(forViews.begin(), forViews.end()));
    forViews.clear();
    lastHandOver = std::chrono::steady_clock::now();
  };
  QString lastElapsed;
  bool stopping = false;
  for (;;) {
    {
      std::unique_lock lock(m_mutex);
      // About once a millisecond, as the meters' replies come one at a time per port.
      m_wake.wait_for(lock, std::chrono::milliseconds(1), [this] { return m_stop; });
      stopping = m_stop;
    }
    pass.clear();
    m_ring.drain(pass);
    if (!pass.empty()) {
      if (!writer.append(pass)) {
        // The records of this pass that still fitted are in the file; the charts show them too,
        // so the file and the screen agree on where the recording ended.
        const qint64 kept = writer.sampleCount() - m_written.load();
        if (kept > 0) {
          m_written.fetch_add(kept);
          forViews.insert(forViews.end(), pass.begin(), pass.begin() + kept);
          decide(pass.begin(), pass.begin() + kept);
        }
        handOver();
        closeAlarmLog();
        emit failed(QStringLiteral("数据文件写入失败，采集已停止：%1\n%2").arg(m_path, writer.errorString()));
        syncer.stop();
        (void)writer.close();
        return;
      }
      m_written.fetch_add(static_cast<qint64>(pass.size()));
      forViews.insert(forViews.end(), pass.begin(), pass.end());
      decide(pass.begin(), pass.end());
      syncer.written();
    }
    // The disk lost what it was given: going on would record into a file that is not there.
    if (const int code = syncer.error(); code != 0) {
      handOver();
      closeAlarmLog();
      syncFailed(code);
      syncer.stop();
      (void)writer.close();
      return;
    }
    if (stopping || std::chrono::steady_clock::now() - lastHandOver >= kViewBatchInterval)
      handOver();
    const QString text = ElapsedText(static_cast<qint64>(m_ring.elapsedMs()) / 1000);
    if (text != lastElapsed) {
      lastElapsed = text;
      emit elapsedText(text);
    }
    if (stopping)
      break;
  }
  // A clean stop leaves the whole recording on the disk. The ring is drained and the pollers
  // have stopped, so waiting for the disk here holds nothing up.
  closeAlarmLog();
  syncer.stop();
  if (const int code = syncer.error() != 0 ? syncer.error() : sync(writer.handle()); code != 0)
    syncFailed(code);
  if (!writer.close())
    emit failed(QStringLiteral("数据文件关闭失败：%1\n%2").arg(m_path, writer.errorString()));
}
