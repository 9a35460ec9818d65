#include "views/PlotChart.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {
using Points = QList<QPointF>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Points pointsOf(const PlotChart &c, int trace) {
  Points p;
  for (int j = 0; j < c.pointCount(trace); ++j)
    p << QPointF(c.pointX(trace, j), c.pointY(trace, j));
  return p;
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
};

QTEST_MAIN(TestCurveChart)
#include "tst_xyview_chart.moc"
