// A days-long recording as fast as the machine allows: the main window (offscreen) fed with ten
// channels at 1600 samples/s each (16 000 samples/s), in batches of 20 ms of simulated time.
//
// A feeder thread plays the read thread: it writes each batch's records to the data file with
// DataFileWriter (ring order, one append per batch, DataFileSyncer forcing the file to the disk
// as the read thread does), then hands the batch to the UI thread, which gives every record to
// its channel exactly as AcquisitionControl::applyBatch does, and every record to the X/Y view
// (channel 1 against channel 2, on by default). The real pollers and ring are not used: they
// only run at the meters' pace.
//
// At every simulated hour (every minute for the first five when --minutes is given) the feed
// pauses and the benchmark prints: resident memory, the replot of channel 1's chart with the
// whole record, the last hour, minute and second in view, the compare chart filled by its
// command, the X/Y chart (its repaint, its longest replot and how long a new view takes to fill
// in) and the memory of its points, the longest UI stall (heartbeat lateness) since the last report, and the ingest
// speed as a multiple of real time.
#include "BenchApp.h"
#include "ProcessMemory.h"
#include "common/ModalResponder.h"

#include "acquisition/AcquisitionControl.h"
#include "acquisition/ChannelSettings.h"
#include "acquisition/DataFile.h"
#include "acquisition/DataFileSyncer.h"
#include "acquisition/DataFileWriter.h"
#include "acquisition/TChannel.h"
#include "acquisition/TReadThread.h"
#include "acquisition/TimeUnits.h"
#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/TfraXYChannel.h"
#include "views/ViewBoard.h"

#include <qcustomplot.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kChannels = 10;
constexpr qint64 kPerChannelPerSecond = 1600; // back-to-back frames at 256000 baud
constexpr qint64 kBatchMs = 20;               // the read thread's hand-over interval
constexpr qint64 kPerBatch = kPerChannelPerSecond * kBatchMs / 1000; // per channel
constexpr int kProbeMs = 2;
constexpr int kMaxBatchesInFlight = 16; // the feeder waits rather than queueing without bound

struct Config {
  qint64 totalMinutes = 24 * 60;
  bool minuteReports = false;
  qint64 maxRssMib = 4096;
  int replots = 5;
  bool xyView = true;
};

bool writeSysIni(const QString &path, bool xyView) {
  QByteArray s = QByteArray("[System Options]\r\nFirstRun=0\r\n") + (xyView ? "" : "XYChannelShow=0\r\n") +
                 "[Meter Configure]\r\nMeterAmount=10\r\nMeterComCount=10\r\n";
  for (int i = 1; i <= kChannels; ++i)
    s += QStringLiteral("MeterComPort%1=%1\r\nMeterComPortState%1=0\r\n").arg(i).toUtf8();
  for (int i = 1; i <= kChannels; ++i)
    s += QStringLiteral("[Meter Configure%1]\r\nMeterNo=%1\r\nMeterCom=%1\r\nMeterState=0\r\nMeterValid=1\r\n"
                        "MeterPrecision=2\r\n")
             .arg(i)
             .toUtf8();
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(s) == s.size();
}

// A slow drift with a fast ripple, two decimals as the meters send; cheap, so the feeder is not
// what limits the ingest.
double sampleValue(qint64 k, int channel) {
  const qint64 slow = (k / 64 + channel * 977) % 8000; // triangle over 8000 steps
  const qint64 tri = slow < 4000 ? slow : 8000 - slow;
  const qint64 ripple = (k * 37 + channel * 11) % 200 - 100;
  return double(500 + tri + ripple) / 100.0;
}

// Whole milliseconds since the start, truncated, as the ring stamps them.
double stampMs(qint64 k) { return double(k * 1000 / kPerChannelPerSecond); }

// Single producer, the UI thread the consumer; the feeder stops at each report boundary until
// the UI thread has measured and says go on.
class Feeder {
public:
  Feeder(QString path, QList<ChannelInfo> infos, QObject *receiver, std::function<void(const SampleBatch &)> apply)
      : m_path(std::move(path)), m_infos(std::move(infos)), m_receiver(receiver), m_apply(std::move(apply)) {}
  ~Feeder() { stop(); }

  // Batches end at `untilBatch` (exclusive); the feeder then waits for resume().
  void start(qint64 untilBatch) {
    m_until = untilBatch;
    m_thread = std::thread([this] { run(); });
  }
  void resume(qint64 untilBatch) {
    {
      std::lock_guard lock(m_mutex);
      m_until = untilBatch;
    }
    m_wake.notify_all();
  }
  void stop() {
    {
      std::lock_guard lock(m_mutex);
      m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
      m_thread.join();
  }
  void batchApplied() {
    {
      std::lock_guard lock(m_mutex);
      --m_inFlight;
    }
    m_wake.notify_all();
  }
  [[nodiscard]] QString error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
  }
  [[nodiscard]] quint64 syncs() const { return m_syncs.load(); }

private:
  void run() {
    DataFileWriter writer;
    if (!writer.open(m_path) || !writer.writeHead(m_infos)) {
      fail(writer.errorString());
      return;
    }
    DataFileSyncer syncer(writer.handle(), [this](int fd) {
      const int rc = DataFileSyncer::FdataSync(fd);
      if (rc == 0)
        m_syncs.fetch_add(1);
      return rc;
    });
    SampleBatch batch;
    for (qint64 b = 0;; ++b) {
      {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [&] { return m_stop || (b < m_until && m_inFlight < kMaxBatchesInFlight); });
        if (m_stop)
          break;
        ++m_inFlight;
      }
      batch.clear();
      batch.reserve(kPerBatch * kChannels);
      for (qint64 k = b * kPerBatch; k < (b + 1) * kPerBatch; ++k)
        for (int c = 0; c < kChannels; ++c)
          batch.push_back({c, sampleValue(k, c), stampMs(k)});
      // On the disk before the views see it, as the read thread does.
      if (!writer.append(std::span<const TSampleRecord>(batch.constData(), size_t(batch.size())))) {
        fail(writer.errorString());
        break;
      }
      syncer.written();
      QMetaObject::invokeMethod(m_receiver, [this, batch] { m_apply(batch); }, Qt::QueuedConnection);
    }
    syncer.stop();
    (void)writer.close();
  }
  void fail(const QString &text) {
    std::lock_guard lock(m_mutex);
    m_error = text;
  }

  QString m_path;
  QList<ChannelInfo> m_infos;
  QObject *m_receiver;
  std::function<void(const SampleBatch &)> m_apply;
  std::thread m_thread;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  qint64 m_until = 0;
  int m_inFlight = 0;
  bool m_stop = false;
  QString m_error;
  std::atomic<quint64> m_syncs{0};
};

// Each run with the view moved by a hair, as a live chart's view or data moves at every replot:
// a chart repaints an unchanged trace from the points it made last time.
double medianReplotMs(PlotChart &chart, int runs) {
  std::vector<double> ms;
  const double min = chart.axisMin(ChartAxis::X);
  const double span = chart.axisSpan(ChartAxis::X);
  for (int i = 0; i < runs; ++i) {
    chart.setAxisRange(ChartAxis::X, min + span * 1e-9 * (i + 1), span);
    QElapsedTimer t;
    t.start();
    chart.replotNow();
    ms.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

QString simulatedTime(qint64 ms) {
  const qint64 s = ms / 1000;
  return QStringLiteral("%1:%2:%3").arg(s / 3600, 2, 10, QLatin1Char('0')).arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}

bool parse(const QStringList &a, Config &cfg) {
  for (int i = 1; i < a.size(); ++i) {
    const bool hasValue = i + 1 < a.size();
    if (a[i] == QStringLiteral("--hours") && hasValue)
      cfg.totalMinutes = std::max<qint64>(1, qint64(a[++i].toDouble() * 60));
    else if (a[i] == QStringLiteral("--minutes") && hasValue) {
      cfg.totalMinutes = std::max<qint64>(1, a[++i].toLongLong());
      cfg.minuteReports = true;
    } else if (a[i] == QStringLiteral("--max-rss-mib") && hasValue)
      cfg.maxRssMib = std::max<qint64>(64, a[++i].toLongLong());
    else if (a[i] == QStringLiteral("--replots") && hasValue)
      cfg.replots = std::max(1, a[++i].toInt());
    else if (a[i] == QStringLiteral("--no-xy"))
      cfg.xyView = false; // the X/Y view off: what the time charts alone cost
    else
      return false;
  }
  return true;
}

} // namespace

int main(int argc, char **argv) {
  const BenchEnvironment environment;
  QApplication app(argc, argv);
  Config cfg;
  if (!parse(app.arguments(), cfg)) {
    std::fprintf(stderr, "usage: bench_endurance [--hours H | --minutes M] [--max-rss-mib N] [--replots N] [--no-xy]\n");
    return 2;
  }

  QTemporaryDir dir;
  if (!dir.isValid() || !writeSysIni(dir.filePath(QStringLiteral("Sys.ini")), cfg.xyView)) {
    std::fprintf(stderr, "cannot set up the program folder in a temporary directory\n");
    return 1;
  }
  const qint64 totalBatches = cfg.totalMinutes * 60'000 / kBatchMs;
  const qint64 totalSamples = totalBatches * kPerBatch * kChannels;
  const qint64 fileBytes = DataFileFormat::channelRecordOffset(kChannels) + totalSamples * DataFileFormat::kSampleSize;
  {
    const qint64 margin = qint64(1) << 30;
    const std::optional<qint64> freeBytes = FreeDiskBytes(dir.path());
    if (freeBytes && *freeBytes < fileBytes + margin) {
      std::fprintf(stderr,
                   "refused: the recording needs %.1f GiB (+1 GiB margin) in %s, only %.1f GiB free; "
                   "shorten it with --hours or --minutes, or set TMPDIR\n",
                   double(fileBytes) / (1 << 30), QFile::encodeName(dir.path()).constData(),
                   double(*freeBytes) / (1 << 30));
      return 1;
    }
  }

  AppContext ctx(ProgramPaths::resolve(dir.path()));
  ModalResponder responder;
  auto main = CreateWindows(ctx, {});
  main->resize(1600, 1000);
  main->show();
  QCoreApplication::processEvents();
  ViewBoard &board = *main->board();
  if (board.viewCount() != kChannels) {
    std::fprintf(stderr, "expected %d channel views, the window has %d\n", kChannels, board.viewCount());
    return 1;
  }

  // The views' part of a start: empty displays, ranges, the time window from 0, sampling on.
  QList<ChannelInfo> infos;
  for (int i = 0; i < board.viewCount(); ++i) {
    TChannel *c = board.channel(i);
    c->ClearDisplay();
    c->SetRange(c->RangeMin(), c->RangeMax());
    board.view(i)->pltChannel->setAxisRange(ChartAxis::X, 0, double(ctx.options.TimeWindowCount));
    infos.append(ChannelRecordOf(*c));
  }
  board.setSampling(true);
  const int unit = ctx.options.TimeWindowUnit;
  TfraXYChannel &xy = *main->XYView;
  const bool xyFed = xy.startAcquisition();

  std::printf("Endurance: %d channels x %lld samples/s (%lld samples/s), batches of %lld ms simulated, "
              "%lld simulated minutes = %lld samples, file %.2f GiB in %s\n",
              kChannels, static_cast<long long>(kPerChannelPerSecond),
              static_cast<long long>(kPerChannelPerSecond * kChannels), static_cast<long long>(kBatchMs),
              static_cast<long long>(cfg.totalMinutes), static_cast<long long>(totalSamples),
              double(fileBytes) / (1 << 30), qPrintable(dir.path()));
  std::printf("Targets: RSS after 24 h < 1024 MiB and flat; every replot < 15 ms; ingest >= 20x real time. "
              "RSS bound %lld MiB (--max-rss-mib). Replots: median of %d; compare chart after its command, whole "
              "record in view.\n",
              static_cast<long long>(cfg.maxRssMib), cfg.replots);
  std::printf("X/Y view: %s\n", xyFed ? "fed (channel 1 against channel 2)" : "not fed");
  std::printf("%9s %11s %9s %10s %9s %9s %9s %9s %10s %10s %7s %7s %7s %7s %7s %10s %9s\n", "sim time", "samples",
              "RSS MiB", "stores MiB", "whole ms", "1 h ms", "1 min ms", "1 s ms", "compare ms", "fill ms", "xy show", "xy ms",
              "xy max", "xy fill", "xy MiB", "stall ms", "ingest x");
  std::fflush(stdout);

  // Report boundaries, in batches.
  std::vector<qint64> marks;
  if (cfg.minuteReports)
    for (qint64 m = 1; m <= std::min<qint64>(5, cfg.totalMinutes); ++m)
      marks.push_back(m * 60'000 / kBatchMs);
  for (qint64 h = 1; h * 60 <= cfg.totalMinutes; ++h)
    marks.push_back(h * 3'600'000 / kBatchMs);
  marks.push_back(totalBatches);
  std::sort(marks.begin(), marks.end());
  marks.erase(std::unique(marks.begin(), marks.end()), marks.end());

  // The UI stall probe.
  QElapsedTimer clock;
  clock.start();
  qint64 lastBeatNs = 0;
  qint64 worstLatenessNs = 0;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  probe.setInterval(kProbeMs);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const qint64 ns = clock.nsecsElapsed();
    worstLatenessNs = std::max(worstLatenessNs, ns - lastBeatNs - kProbeMs * 1'000'000LL);
    lastBeatNs = ns;
  });

  QObject receiver;
  qint64 applied = 0; // batches
  size_t nextMark = 0;
  QElapsedTimer feeding;
  qint64 feedingNs = 0;
  qint64 lastReportBatches = 0;
  bool stopped = false;
  QString stopReason;
  Feeder *feederPtr = nullptr;
  const QString recording = dir.filePath(QStringLiteral("endurance.zvdat"));
  LiveRecordFeed feed{recording, static_cast<int>(infos.size())};

  const auto measure = [&] {
    const qint64 intervalNs = feeding.nsecsElapsed();
    feedingNs += intervalNs;
    probe.stop();
    const double stallMs = double(worstLatenessNs) / 1e6;
    const double simMs = double(applied * kBatchMs);
    const double ingest = double((applied - lastReportBatches) * kBatchMs) * 1e6 / double(std::max<qint64>(1, intervalNs));
    lastReportBatches = applied;
    // Coalesced replots still due run first, so they do not land in the timings.
    QCoreApplication::processEvents();
    const ProcessMemory mem = ProcessMemory::now();
    PlotChart &chart = *board.view(0)->pltChannel;
    const double keepMin = chart.axisMin(ChartAxis::X);
    const double keepSpan = chart.axisSpan(ChartAxis::X);
    const double endX = ToDisplayTime(simMs, unit);
    double figures[4];
    const double spansMs[4] = {simMs, 3'600'000, 60'000, 1'000};
    for (int i = 0; i < 4; ++i) {
      const double span = ToDisplayTime(spansMs[i], unit);
      chart.setAxisRange(ChartAxis::X, std::max(0.0, endX - span), span);
      figures[i] = medianReplotMs(chart, cfg.replots);
    }
    chart.setAxisRange(ChartAxis::X, keepMin, keepSpan);
    chart.replotNow();

    // The compare chart shares the channels' stores; the bound check stays for builds that copy.
    const qint64 samples = applied * kPerBatch * kChannels;
    QString compareText = QStringLiteral("-");
    QString fillText = QStringLiteral("-");
    // Resident memory per sample so far: an upper bound for what the copy adds.
    const double kbPerSample = samples > 0 ? double(mem.rssKb) / double(samples) : 0;
    const bool fits = double(mem.rssKb) + kbPerSample * double(samples) < double(cfg.maxRssMib) * 1024.0;
    if (fits) {
      QElapsedTimer fill;
      fill.start();
      main->btnChannelAllDisplay->trigger(); // 合并显示, as the operator does
      const double fillMs = double(fill.nsecsElapsed()) / 1e6;
      PlotChart &compare = *board.compareChart();
      (void)compare.zoomToFit(ChartAxis::X);
      compareText = QString::number(medianReplotMs(compare, cfg.replots), 'f', 2);
      fillText = QString::number(fillMs, 'f', 0);
      for (int t = 0; t < compare.traceCount(); ++t)
        compare.clearTrace(t);
      compare.replotNow();
      main->PageControl1->setCurrentIndex(0);
      QCoreApplication::processEvents();
    }
    // The X/Y chart, turned to after an hour away: its timed replots fill in the hour's points
    // (in turns of PlotChart::kCurveBudgetMs between the replots), then a repaint as it stands,
    // then a new view, which walks every point again, filled in the same way. Printed: the
    // replot of the page being shown, the repaint, the longest single replot of both fillings,
    // the time the new view took to fill in, and the memory of the X/Y trace.
    QString xyText = QStringLiteral("-");
    QString xyMaxText = QStringLiteral("-");
    QString xyShowText = QStringLiteral("-");
    QString xyFillText = QStringLiteral("-");
    QString xyMibText = QStringLiteral("-");
    if (xyFed) {
      PlotChart &xyChart = *xy.chart();
      double longest = 0;
      QElapsedTimer one;
      const QMetaObject::Connection before =
          QObject::connect(xyChart.plot(), &QCustomPlot::beforeReplot, [&] { one.start(); });
      const QMetaObject::Connection after = QObject::connect(xyChart.plot(), &QCustomPlot::afterReplot, [&] {
        longest = std::max(longest, double(one.nsecsElapsed()) / 1e6);
      });
      const auto fillIn = [&] {
        QElapsedTimer t;
        t.start();
        xyChart.requestReplot();
        while (xyChart.curveFillingIn() || xyChart.replotPending())
          QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        return double(t.nsecsElapsed()) / 1e6;
      };
      main->PageControl1->setCurrentIndex(main->PageControl1->indexOf(main->pnlLeft)); // X/Y曲线
      // Showing the page for the first time lays it out and sizes the chart's paint buffers
      // (megabytes of new pages): printed apart, it is not a cost of the points.
      xyShowText = QString::number(longest, 'f', 2);
      longest = 0;
      (void)fillIn();
      QElapsedTimer t;
      t.start();
      xyChart.replotNow();
      xyText = QString::number(double(t.nsecsElapsed()) / 1e6, 'f', 2);
      const double keep = xyChart.axisSpan(ChartAxis::X);
      xyChart.setAxisSpan(ChartAxis::X, keep * (1 + 1e-6));
      xyFillText = QString::number(fillIn(), 'f', 0);
      xyMaxText = QString::number(longest, 'f', 2);
      QObject::disconnect(before);
      QObject::disconnect(after);
      xyChart.setAxisSpan(ChartAxis::X, keep);
      xyChart.replotNow();
      xyMibText = QString::number(double(xyChart.curveMemoryBytes(0)) / (1 << 20), 'f', 1);
      main->PageControl1->setCurrentIndex(0);
      QCoreApplication::processEvents();
    }
    // What the channels' stores hold: summaries, newest blocks and raw blocks read lately.
    qint64 storeBytes = 0;
    for (int i = 0; i < board.viewCount(); ++i)
      storeBytes += board.view(i)->pltChannel->traceStore(0)->memoryBytes();
    std::printf("%9s %11lld %9.1f %10.1f %9.2f %9.2f %9.2f %9.2f %10s %10s %7s %7s %7s %7s %7s %10.2f %9.1f\n",
                qPrintable(simulatedTime(qint64(simMs))), static_cast<long long>(samples), Mib(mem.rssKb),
                double(storeBytes) / (1 << 20), figures[0], figures[1], figures[2], figures[3],
                qPrintable(compareText), qPrintable(fillText), qPrintable(xyShowText), qPrintable(xyText),
                qPrintable(xyMaxText), qPrintable(xyFillText), qPrintable(xyMibText), stallMs, ingest);
    std::fflush(stdout);
    malloc_trim(0);
    worstLatenessNs = 0;
    lastBeatNs = clock.nsecsElapsed();
    probe.start();
    feeding.start();
  };

  const auto apply = [&](const SampleBatch &batch) {
    if (stopped)
      return;
    // As AcquisitionControl::applyBatch: every record to its channel, in ring order.
    feed.apply(board, batch, ctx.options.TimeWindowUnit);
    if (xyFed) // as AcquisitionControl::applyBatch
      xy.samplesShown(std::span<const TSampleRecord>(batch.constData(), static_cast<size_t>(batch.size())));
    ++applied;
    feederPtr->batchApplied();
    if (applied % 50 == 0) { // once a simulated second
      const ProcessMemory m = ProcessMemory::now();
      if (m.rssKb > cfg.maxRssMib * 1024) {
        stopped = true;
        stopReason = QStringLiteral("stopped: RSS %1 MiB passed the bound of %2 MiB at simulated %3 (hour %4) with %5 "
                                    "samples")
                         .arg(Mib(m.rssKb), 0, 'f', 1)
                         .arg(cfg.maxRssMib)
                         .arg(simulatedTime(applied * kBatchMs))
                         .arg(double(applied * kBatchMs) / 3'600'000.0, 0, 'f', 3)
                         .arg(applied * kPerBatch * kChannels);
        QCoreApplication::exit(0); // quit() would ask the window to close
        return;
      }
    }
    if (nextMark < marks.size() && applied == marks[nextMark]) {
      measure();
      ++nextMark;
      if (nextMark == marks.size()) {
        stopped = true;
        QCoreApplication::exit(0); // quit() would ask the window to close
        return;
      }
      feederPtr->resume(marks[nextMark]);
    }
  };

  Feeder feeder(recording, infos, &receiver, apply);
  feederPtr = &feeder;
  QElapsedTimer wall;
  wall.start();
  feeding.start();
  probe.start();
  feeder.start(marks.front());
  // A write failure ends the feed; the event loop is then told to stop.
  QTimer watchdog;
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    if (!feeder.error().isEmpty()) {
      stopped = true;
      stopReason = QStringLiteral("stopped: the data file cannot be written: ") + feeder.error();
      QCoreApplication::exit(0); // quit() would ask the window to close
    }
  });
  watchdog.start(500);
  app.exec();
  probe.stop();
  watchdog.stop();
  feeder.stop();
  if (!stopReason.isEmpty())
    std::printf("%s\n", qPrintable(stopReason));
  const ProcessMemory end = ProcessMemory::now();
  std::printf("fed %lld samples in %.1f s of wall time (%.1f s feeding outside the reports); fdatasync calls %llu; "
              "peak RSS (VmHWM) %.1f MiB\n",
              static_cast<long long>(applied * kPerBatch * kChannels), double(wall.nsecsElapsed()) / 1e9,
              double(feedingNs) / 1e9, static_cast<unsigned long long>(feeder.syncs()), Mib(end.hwmKb));
  for (const auto &m : responder.seen)
    std::printf("message box: %s\n", qPrintable(m.text));
  board.setSampling(false);
  return stopReason.startsWith(QStringLiteral("stopped: the data")) ? 1 : 0;
}
