#include "BenchApp.h"
// Chart figures: replot time with millions of points in one trace, and the cost of feeding ten
// channel charts at 10 000 samples/s each for a minute with the coalesced replots running.
#include "views/PlotChart.h"

#include <QApplication>
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

void replotBenchmark() {
  std::printf("Replot of a channel chart (1200x400, offscreen), trace 0 only, %d replots each:\n", kReplotRuns);
  PlotChart chart(kChannelChartTraces);
  chart.resize(1200, 400);
  chart.setTitle(QStringLiteral("通道1测试"));
  chart.setAxisTitle(ChartAxis::X, QStringLiteral("时间(秒)"));
  chart.setAxisTitle(ChartAxis::Y, QStringLiteral("通道1"));
  chart.setTraceInLegend(0, true);
  chart.show();
  QCoreApplication::processEvents();

  qint64 have = 0;
  for (const qint64 target : {qint64(1'000'000), qint64(10'000'000)}) {
    appendPoints(chart, have, target);
    have = target;
    const double end = (have - 1) * 0.0001;
    chart.setMarkersVisible(0, false);
    (void)chart.zoomToFit(ChartAxis::X);
    (void)chart.zoomToFit(ChartAxis::Y);
    printReplot("whole record in view, line", have, timeReplots(chart));
    chart.setMarkersVisible(0, true);
    chart.setMarkerSize(0, 2);
    printReplot("whole record in view, line + markers", have, timeReplots(chart));
    chart.setMarkersVisible(0, false);
    chart.setAxisRange(ChartAxis::X, end - 24, 24);
    printReplot("last 24 s in view, line", have, timeReplots(chart));
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
