#include "BenchApp.h"
// Chart figures: replot time with millions of points in one trace, and the cost of feeding ten
// channel charts at 10 000 samples/s each for a minute with the coalesced replots running.
#include "ProcessMemory.h"
#include "acquisition/DataFile.h"
#include "acquisition/SampleRecord.h"
#include "store/SampleStore.h"
#include "views/PlotChart.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QThread>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kReplotRuns = 7;

double sampleValue(qint64 i, int channel) {
  return 25.0 + 20.0 * std::sin(i * 0.0007 + channel) + 2.0 * std::sin(i * 0.31);
}

void appendPoints(PlotChart &chart, qint64 from, qint64 to) {
  constexpr qint64 kChunk = 1'000'000;
  for (qint64 start = from; start < to; start += kChunk) {
    const qint64 end = std::min(to, start + kChunk);
    QVector<double> x;
    QVector<double> y;
    x.reserve(end - start);
    y.reserve(end - start);
    for (qint64 i = start; i < end; ++i) {
      x << i * 0.0001; // seconds at 10 kS/s
      y << sampleValue(i, 0);
    }
    chart.addPoints(0, x, y, true);
  }
}

struct Figures {
  double minMs;
  double medianMs;
};

Figures timeReplots(PlotChart &chart) {
  std::vector<double> ms;
  for (int run = 0; run < kReplotRuns; ++run) {
    QElapsedTimer t;
    t.start();
    chart.plot()->replot(QCustomPlot::rpImmediateRefresh);
    ms.push_back(t.nsecsElapsed() / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  return {ms.front(), ms[ms.size() / 2]};
}

void printReplot(const char *what, qint64 points, const Figures &f) {
  std::printf("  %-38s %9lld points: replot min %7.2f ms, median %7.2f ms\n", what,
              static_cast<long long>(points), f.minMs, f.medianMs);
}

double residentMiB() { return ProcessMemory::now().rssKb / 1024.0; }

// A one-channel recording of `points` samples at 10 kS/s (times in ms), written as the read
// thread writes it.
QString writeRecording(const QString &dir, qint64 points) {
  const QString path = dir + QStringLiteral("/bench.zvdat");
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly))
    return {};
  f.write(EncodeFileHead(1));
  f.write(EncodeChannelRecord(1, {}));
  std::vector<TSampleRecord> buf;
  constexpr qint64 kChunk = 1 << 16;
  for (qint64 start = 0; start < points; start += kChunk) {
    buf.clear();
    for (qint64 i = start; i < std::min(points, start + kChunk); ++i)
      buf.push_back({0, sampleValue(i, 0), i * 0.1});
    f.write(reinterpret_cast<const char *>(buf.data()), static_cast<qint64>(buf.size() * sizeof(TSampleRecord)));
  }
  return path;
}

void zoomedReplots(PlotChart &chart, qint64 points, double secondsPerUnit) {
  const double end = (points - 1) * 0.0001 / secondsPerUnit;
  (void)chart.zoomToFit(ChartAxis::X);
  (void)chart.zoomToFit(ChartAxis::Y);
  printReplot("whole record in view, line", points, timeReplots(chart));
  chart.setMarkersVisible(0, true);
  chart.setMarkerSize(0, 2);
  printReplot("whole record in view, line + markers", points, timeReplots(chart));
  chart.setMarkersVisible(0, false);
  for (const auto &[what, span] : {std::pair{"last 1 h in view, line", 3600.0}, std::pair{"last 1 min in view, line", 60.0},
                                   std::pair{"last 1 s in view, line", 1.0}}) {
    const double s = span / secondsPerUnit;
    chart.setAxisRange(ChartAxis::X, end - s, s);
    printReplot(what, points, timeReplots(chart));
  }
}

PlotChart *makeChart() {
  auto *chart = new PlotChart(kChannelChartTraces);
  chart->resize(1200, 400);
  chart->setTitle(QStringLiteral("通道1测试"));
  chart->setAxisTitle(ChartAxis::X, QStringLiteral("时间(秒)"));
  chart->setAxisTitle(ChartAxis::Y, QStringLiteral("通道1"));
  chart->setTraceInLegend(0, true);
  chart->show();
  QCoreApplication::processEvents();
  return chart;
}

void replotBenchmark() {
  std::printf("Replot of a channel chart (1200x400, offscreen), trace 0 only, %d replots each:\n", kReplotRuns);
  std::printf("resident memory at start: %.1f MiB\n", residentMiB());
  {
    // Points handed to the chart as an opened file does: a store with the samples in memory.
    std::unique_ptr<PlotChart> chart(makeChart());
    appendPoints(*chart, 0, 10'000'000);
    std::printf("memory-backed store, 10 M points added: resident %.1f MiB\n", residentMiB());
    zoomedReplots(*chart, 10'000'000, 1);
  }
  std::printf("resident memory after the memory-backed chart is gone: %.1f MiB\n", residentMiB());
  for (const qint64 points : {qint64(10'000'000), qint64(100'000'000)}) {
    // A store over the recording file: summaries in memory, samples read back from the file.
    QTemporaryDir dir;
    const QString path = writeRecording(dir.path(), points);
    const double before = residentMiB();
    QElapsedTimer t;
    t.start();
    auto stores = BuildStores(path);
    const double buildS = t.nsecsElapsed() / 1e9;
    std::unique_ptr<PlotChart> chart(makeChart());
    chart->setTraceStore(0, stores.at(0), 1.0 / 1000); // ms in the file, seconds on the axis
    std::printf("file-backed store, %lld M points: built in one pass in %.2f s; store holds %.1f MiB; resident %.1f MiB "
                "(%.1f MiB before building)\n",
                static_cast<long long>(points / 1'000'000), buildS, stores[0]->memoryBytes() / 1048576.0,
                residentMiB(), before);
    zoomedReplots(*chart, points, 1);
    std::printf("  resident after the replots: %.1f MiB\n", residentMiB());
  }
}

void appendBenchmark(bool realTime) {
  constexpr int kChannels = 10;
  constexpr qint64 kRate = 10'000; // samples per second and channel
  constexpr qint64 kSeconds = 60;
  constexpr qint64 kBatchMs = 10; // samples handed over per batch, as the read thread does
  constexpr double kWindow = 24;  // seconds on the time axis
  constexpr double kBackPer = 20; // the part of the old window that stays in view on a jump

  QWidget board;
  auto *grid = new QGridLayout(&board);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(0);
  std::vector<PlotChart *> charts;
  int replots = 0;
  for (int c = 0; c < kChannels; ++c) {
    auto *chart = new PlotChart(kChannelChartTraces);
    chart->setAxisRange(ChartAxis::X, 0, kWindow);
    chart->setAxisRange(ChartAxis::Y, 0, 50);
    chart->setTracking(ChartAxis::X, true);
    chart->setTraceInLegend(0, true);
    QObject::connect(chart->plot(), &QCustomPlot::afterReplot, [&replots] { ++replots; });
    grid->addWidget(chart, c / 2, c % 2);
    charts.push_back(chart);
  }
  board.resize(1600, 1000);
  board.show();
  QCoreApplication::processEvents();

  const qint64 perBatch = kRate * kBatchMs / 1000;
  const qint64 batches = kSeconds * 1000 / kBatchMs;
  QElapsedTimer total;
  QElapsedTimer step;
  qint64 addNs = 0;
  qint64 longestStallNs = 0;
  qint64 longestAddNs = 0;
  qint64 busyNs = 0;
  total.start();
  for (qint64 b = 0; b < batches; ++b) {
    step.start();
    for (int c = 0; c < kChannels; ++c) {
      PlotChart &chart = *charts[static_cast<size_t>(c)];
      for (qint64 k = 0; k < perBatch; ++k) {
        const qint64 i = b * perBatch + k;
        const double x = i / double(kRate);
        // The channel view's own scroll step, then the chart's tracking.
        const double min = chart.axisMin(ChartAxis::X);
        const double span = chart.axisSpan(ChartAxis::X);
        if (x > min + span)
          chart.setAxisMin(ChartAxis::X, min + span * (100 - kBackPer) / 100);
        chart.addPoint(0, x, sampleValue(i, c));
        (void)chart.minY(0);
        (void)chart.maxY(0);
      }
    }
    const qint64 added = step.nsecsElapsed();
    addNs += added;
    longestAddNs = std::max(longestAddNs, added);
    QCoreApplication::processEvents(); // replot timers fire here
    const qint64 busy = step.nsecsElapsed();
    busyNs += busy;
    longestStallNs = std::max(longestStallNs, busy);
    // Paced like a live acquisition: idle until the next batch is due, replotting as it comes.
    while (realTime && total.elapsed() < (b + 1) * kBatchMs) {
      QThread::usleep(200);
      step.start();
      QCoreApplication::processEvents();
      const qint64 ns = step.nsecsElapsed();
      busyNs += ns;
      longestStallNs = std::max(longestStallNs, ns);
    }
  }
  for (PlotChart *chart : charts)
    chart->replotNow();
  const double totalS = total.nsecsElapsed() / 1e9;
  const qint64 points = kChannels * kRate * kSeconds;
  std::printf("\nFeeding %d channel charts (%s), %lld samples/s each for %lld s (%lld points), batches of %lld ms:\n",
              kChannels, realTime ? "paced in real time" : "as fast as possible", static_cast<long long>(kRate), static_cast<long long>(kSeconds),
              static_cast<long long>(points), static_cast<long long>(kBatchMs));
  std::printf("  total wall time                  %8.2f s (%.1f x faster than real time)\n", totalS,
              kSeconds / totalS);
  std::printf("  adding points                    %8.2f s, %.1f ns per point\n", addNs / 1e9,
              double(addNs) / points);
  std::printf("  UI thread busy                   %8.2f s (%.0f %% of the wall time)\n", busyNs / 1e9,
              100.0 * busyNs / total.nsecsElapsed());
  std::printf("  replots done                     %8d (timer-driven, all charts)\n", replots);
  std::printf("  longest batch of adds            %8.2f ms (%lld points)\n", longestAddNs / 1e6,
              static_cast<long long>(perBatch * kChannels));
  std::printf("  longest single stall (adds+UI)   %8.2f ms\n", longestStallNs / 1e6);
  std::printf("  points per chart at the end      %8d\n", charts.front()->pointCount(0));
}

} // namespace

int main(int argc, char **argv) {
  const BenchEnvironment environment;
  QApplication app(argc, argv);
  // --realtime paces the feed like a live minute of acquisition (takes a minute).
  const bool realTime = app.arguments().contains(QStringLiteral("--realtime"));
  replotBenchmark();
  appendBenchmark(false);
  if (realTime)
    appendBenchmark(true);
  return 0;
}
