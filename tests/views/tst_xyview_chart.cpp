#include "views/PlotChart.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <qcustomplot.h>

#include <cmath>
#include <limits>
#include <random>

namespace {
using Points = QList<QPointF>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Points pointsOf(const PlotChart &c, int trace) {
  Points p;
  for (int j = 0; j < c.pointCount(trace); ++j)
    p << QPointF(c.pointX(trace, j), c.pointY(trace, j));
  return p;
}

// A wandering line, a pixel or so a step at 500 x 300 px: nearly every point enters a new cell.
void wander(int n, QVector<double> &x, QVector<double> &y) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  x.resize(n);
  y.resize(n);
  double px = 50, py = 50;
  for (int i = 0; i < n; ++i) {
    px = std::clamp(px + u(rng) * 0.4, 0.0, 100.0);
    py = std::clamp(py + u(rng) * 0.6, 0.0, 100.0);
    x[i] = px;
    y[i] = py;
  }
}

bool sameVertices(const PlotChart &a, const PlotChart &b) {
  const auto *ca = qobject_cast<QCPCurve *>(a.plot()->plottable(0));
  const auto *cb = qobject_cast<QCPCurve *>(b.plot()->plottable(0));
  if (!ca || !cb || ca->dataCount() != cb->dataCount() || ca->dataCount() == 0)
    return false;
  for (int i = 0; i < ca->dataCount(); ++i) {
    const QCPCurveData pa = *ca->data()->at(i), pb = *cb->data()->at(i);
    if (pa.key != pb.key || !(pa.value == pb.value || (std::isnan(pa.value) && std::isnan(pb.value))))
      return false;
  }
  return true;
}

// Both charts shown at 500 x 300 with the points drawn on 0..100, then given a new x range:
// every point is walked again.
bool drawnThenZoomed(PlotChart &a, PlotChart &b, const QVector<double> &x, const QVector<double> &y, double min,
                     double span) {
  for (PlotChart *c : {&a, &b}) {
    c->resize(500, 300);
    c->show();
    if (!QTest::qWaitForWindowExposed(c))
      return false;
    c->setAxisRange(ChartAxis::X, 0, 100);
    c->setAxisRange(ChartAxis::Y, 0, 100);
    c->addPoints(0, x, y, false);
    c->replotNow();
    c->setAxisRange(ChartAxis::X, min, span);
  }
  return true;
}

// A loop that runs right, back left below, and right again: x is not monotonic.
const Points kLoop{{0, 0}, {4, 1}, {8, 2}, {6, 5}, {2, 4}, {-3, 3}, {5, -2}};
} // namespace

class TestCurveChart : public QObject {
  Q_OBJECT

private slots:
  void keepsArrivalOrder_data() {
    QTest::addColumn<TraceKind>("kind");
    QTest::addColumn<bool>("batched");
    QTest::addColumn<Points>("expected");
    Points sorted = kLoop;
    std::stable_sort(sorted.begin(), sorted.end(), [](QPointF a, QPointF b) { return a.x() < b.x(); });
    QTest::newRow("curve, one by one") << TraceKind::Curve << false << kLoop;
    QTest::newRow("curve, in batches") << TraceKind::Curve << true << kLoop;
    QTest::newRow("graph sorts by x") << TraceKind::Graph << false << sorted;
  }
  void keepsArrivalOrder() {
    QFETCH(TraceKind, kind);
    QFETCH(bool, batched);
    QFETCH(Points, expected);
    PlotChart c(5, kind);
    QCOMPARE(c.traceKind(), kind);
    if (batched) {
      // Two batches: the second continues after the first.
      for (auto [from, to] : {std::pair{0, 3}, std::pair{3, int(kLoop.size())}}) {
        QVector<double> x, y;
        for (int i = from; i < to; ++i) {
          x << kLoop[i].x();
          y << kLoop[i].y();
        }
        c.addPoints(2, x, y, false);
      }
    } else {
      for (QPointF p : kLoop)
        c.addPoint(2, p.x(), p.y());
    }
    QCOMPARE(pointsOf(c, 2), expected);
    QCOMPARE(c.pointCount(0), 0);
    QCOMPARE(*c.minX(2), -3.0);
    QCOMPARE(*c.maxX(2), 8.0);
    QCOMPARE(*c.minY(2), -2.0);
    QCOMPARE(*c.maxY(2), 5.0);
    c.clearTrace(2);
    QCOMPARE(c.pointCount(2), 0);
    QVERIFY(!c.minX(2));
    c.addPoint(2, 1, 1); // starts afresh after a clear
    QCOMPARE(pointsOf(c, 2), (Points{{1, 1}}));
  }

  void unusablePoints() {
    PlotChart c(5, TraceKind::Curve);
    c.addPoint(0, 1, 1);
    c.addPoint(0, std::numeric_limits<double>::infinity(), 2); // no place on the axis
    c.addPoint(0, 2, kNaN);                                     // a gap
    c.addPoint(0, 3, 9);
    QCOMPARE(c.pointCount(0), 3);
    QVERIFY(std::isnan(c.pointY(0, 1)));
    QCOMPARE(*c.maxY(0), 9.0);
    QCOMPARE(*c.minY(0), 1.0);
    QVERIFY(std::isnan(c.pointX(0, 3)));
  }

  void zoomToFitBothAxes() {
    PlotChart c(5, TraceKind::Curve);
    for (QPointF p : kLoop)
      c.addPoint(0, p.x(), p.y());
    c.addPoint(3, 20, -10);
    QVERIFY(c.zoomToFit(ChartAxis::X));
    QVERIFY(c.zoomToFit(ChartAxis::Y));
    QCOMPARE(c.axisMin(ChartAxis::X), -3.0);
    QCOMPARE(c.axisSpan(ChartAxis::X), 23.0);
    QCOMPARE(c.axisMin(ChartAxis::Y), -10.0);
    QCOMPARE(c.axisSpan(ChartAxis::Y), 15.0);
  }

  void cursorReadsTheNearestPoint_data() {
    QTest::addColumn<double>("percent"); // of the X axis 0..10
    QTest::addColumn<double>("expected");
    // Points in order: (0,0) (4,1) (8,2) (6,5) (2,4) (-3,3) (5,-2)
    QTest::newRow("on a point") << 40.0 << 1.0;
    QTest::newRow("nearest of several passes") << 65.0 << 5.0;
    QTest::newRow("equally near, later point wins") << 55.0 << -2.0;
    QTest::newRow("right of all points") << 100.0 << 2.0;
    QTest::newRow("equally near, going back") << 30.0 << 4.0;
    QTest::newRow("left edge") << 0.0 << 0.0;
  }
  void cursorReadsTheNearestPoint() {
    QFETCH(double, percent);
    QFETCH(double, expected);
    PlotChart c(5, TraceKind::Curve);
    c.setAxisRange(ChartAxis::X, 0, 10);
    for (QPointF p : kLoop)
      c.addPoint(1, p.x(), p.y());
    c.addPoint(1, 10, kNaN); // a gap is never read
    c.setCursorPosition(percent);
    QCOMPARE(*c.cursorValue(1), expected);
    QVERIFY(!c.cursorValue(0));
  }

  void drawsLegendAndPictures() {
    PlotChart c(5, TraceKind::Curve);
    c.resize(500, 300);
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    for (int t : {0, 3}) {
      c.setMarkersVisible(t, true);
      for (QPointF p : kLoop)
        c.addPoint(t, p.x() + t, p.y());
    }
    c.setTraceInLegend(3, true);
    c.setTraceInLegend(0, true);
    QCOMPARE(c.legendEntries(), (QStringList{"1", "4"}));
    c.setCursorVisible(true);
    c.replotNow();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("xy.png"));
    QVERIFY(c.saveImage(file));
    QImage img(file);
    QVERIFY(!img.isNull());
    // Trace 0 is red: some of its line must be in the picture.
    bool red = false;
    for (int y = 0; y < img.height() && !red; ++y)
      for (int x = 0; x < img.width() && !red; ++x)
        red = img.pixelColor(x, y) == QColor(255, 0, 0);
    QVERIFY(red);
  }

  // A curve of millions of points drawn anew for a new view fills in over several timed
  // replots (the walk in turns between them) and ends with what drawing it whole gives; a picture taken
  // meanwhile is whole at once.
  void largeCurveFillsInOverReplots() {
    QVector<double> x, y;
    wander(3'000'000, x, y);
    PlotChart filling(5, TraceKind::Curve), whole(5, TraceKind::Curve);
    QVERIFY(drawnThenZoomed(filling, whole, x, y, 10, 80));
    whole.replotNow();
    QTemporaryDir dir;
    QVERIFY(filling.saveImage(dir.filePath(QStringLiteral("filling.png"))));
    QVERIFY(whole.saveImage(dir.filePath(QStringLiteral("whole.png"))));
    QCOMPARE(QImage(dir.filePath(QStringLiteral("filling.png"))), QImage(dir.filePath(QStringLiteral("whole.png"))));

    // Again, through the timed replots alone.
    for (PlotChart *c : {&filling, &whole})
      c->setAxisRange(ChartAxis::X, 5, 60);
    QSignalSpy replots(filling.plot(), &QCustomPlot::afterReplot);
    filling.requestReplot();
    QTRY_VERIFY_WITH_TIMEOUT(replots.count() > 0 && !filling.curveFillingIn() && !filling.replotPending(), 60000);
    QVERIFY2(replots.count() > 1, qPrintable(QString::number(replots.count())));
    whole.replotNow();
    QVERIFY(sameVertices(filling, whole));
  }

  void hiddenCurveWaitsToFillIn() {
    // The walk goes on in turns between replots; a chart on another page stops walking until
    // it is shown again, and then fills in completely.
    QVector<double> x, y;
    wander(3'000'000, x, y);
    PlotChart filling(5, TraceKind::Curve), whole(5, TraceKind::Curve);
    QVERIFY(drawnThenZoomed(filling, whole, x, y, 7, 50));
    // Hidden right after its first timed replot, before any turn of the walk.
    bool hidden = false;
    connect(filling.plot(), &QCustomPlot::afterReplot, this, [&] {
      if (!hidden)
        filling.hide();
      hidden = true;
    });
    filling.requestReplot();
    QTRY_VERIFY(hidden);
    QVERIFY(filling.curveFillingIn());
    const auto *curve = qobject_cast<QCPCurve *>(filling.plot()->plottable(0));
    const int drawn = curve->dataCount();
    QTest::qWait(300);
    QCOMPARE(curve->dataCount(), drawn);
    QVERIFY(filling.curveFillingIn());
    filling.show();
    QTRY_VERIFY_WITH_TIMEOUT(!filling.curveFillingIn() && !filling.replotPending(), 60000);
    whole.replotNow();
    QVERIFY(sameVertices(filling, whole));
  }
};

QTEST_MAIN(TestCurveChart)
#include "tst_xyview_chart.moc"
