#include "views/DateTimeFormat.h"
#include "views/PlotChart.h"
#include "views/WinColor.h"
#include "ImageStrays.h"

#include <QFile>
#include <map>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QPrinter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
using Points = QList<QPointF>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

QByteArray fileHead(const QString &path, int n) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.read(n) : QByteArray();
}

void sendMouse(QWidget *w, QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &e);
}

// Equal up to floating-point rounding relative to the scale of the axis.
bool near(double a, double b, double scale) { return std::abs(a - b) <= 1e-9 * std::max({std::abs(a), std::abs(b), scale}); }

void showChart(PlotChart &chart) {
  chart.resize(600, 300);
  chart.show();
  QVERIFY(QTest::qWaitForWindowExposed(&chart));
  chart.replotNow(); // lays out the axis rect
}
} // namespace

class TestPlotChart : public QObject {
  Q_OBJECT

private slots:
  void colorHelpers_data() {
    QTest::addColumn<int>("win");
    QTest::addColumn<QColor>("color");
    QTest::newRow("red") << 255 << QColor(255, 0, 0);
    QTest::newRow("sky blue panel") << 15780518 << QColor(166, 202, 240);
    QTest::newRow("teal text") << 8421376 << QColor(0, 128, 128);
    QTest::newRow("unlit dots") << 16744448 << QColor(0, 128, 255);
    QTest::newRow("display background") << 8404992 << QColor(0, 64, 128);
    QTest::newRow("black") << 0 << QColor(0, 0, 0);
    QTest::newRow("white") << 16777215 << QColor(255, 255, 255);
  }
  void colorHelpers() {
    QFETCH(int, win);
    QFETCH(QColor, color);
    QCOMPARE(ColorFromWin(win), color);
    QCOMPARE(WinFromColor(color), win);
  }

  void dateTimeFormat_data() {
    QTest::addColumn<QString>("delphi");
    QTest::addColumn<QString>("qt");
    QTest::newRow("default") << "hh:nn:ss" << "hh:mm:ss";
    QTest::newRow("minutes after hours") << "hh:mm:ss" << "hh:mm:ss";
    QTest::newRow("month") << "yyyy-mm-dd hh:nn" << "yyyy-MM-dd hh:mm";
    QTest::newRow("file name stamp") << "yy-mm-dd hh.nn.ss" << "yy-MM-dd hh.mm.ss";
    QTest::newRow("milliseconds") << "hh:nn:ss.zzz" << "hh:mm:ss.zzz";
    QTest::newRow("short month and day") << "d/m/yyyy" << "d/M/yyyy";
    QTest::newRow("month name") << "dd mmm yyyy" << "dd MMM yyyy";
    QTest::newRow("upper case") << "HH:NN:SS" << "hh:mm:ss";
    QTest::newRow("am/pm") << "h:nn am/pm" << "h:mm ap";
    QTest::newRow("quoted text") << "\"at\" hh'h'" << "'at' hh'h'";
    QTest::newRow("stray letter quoted") << "hh:nn x" << "hh:mm 'x'";
    QTest::newRow("empty") << "" << "";
  }
  void dateTimeFormat() {
    QFETCH(QString, delphi);
    QFETCH(QString, qt);
    QCOMPARE(QtDateTimeFormat(delphi), qt);
  }

  void dateTimeLabelsUseConvertedFormat() {
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    chart.setXDateTimeLabels(true, QStringLiteral("hh:nn:ss"));
    chart.setAxisRange(ChartAxis::X, 3723, 4); // 01:02:03 .. 01:02:07 as elapsed seconds
    chart.replotNow();
    const QVector<QString> labels = chart.plot()->xAxis->tickVectorLabels();
    QVERIFY(!labels.isEmpty());
    for (const QString &l : labels)
      QVERIFY2(QRegularExpression(QStringLiteral("^01:02:0\\d$")).match(l).hasMatch(), qPrintable(l));
    QVERIFY(chart.xDateTimeLabels());
    QCOMPARE(chart.xDateTimeFormat(), QStringLiteral("hh:nn:ss"));
  }

  void runningExtremes_data() {
    QTest::addColumn<Points>("points");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("minX");
    QTest::addColumn<double>("maxX");
    QTest::addColumn<double>("minY");
    QTest::addColumn<double>("maxY");
    QTest::newRow("single point") << Points{{2, 7}} << 1 << 2.0 << 2.0 << 7.0 << 7.0;
    QTest::newRow("rising") << Points{{0, 1}, {1, 2}, {2, 3}} << 3 << 0.0 << 2.0 << 1.0 << 3.0;
    QTest::newRow("negative values") << Points{{-5, -1}, {-4, -9.5}, {-3, -2}} << 3 << -5.0 << -3.0 << -9.5 << -1.0;
    QTest::newRow("peak in the middle") << Points{{0, 0}, {1, 40}, {2, 5}} << 3 << 0.0 << 2.0 << 0.0 << 40.0;
    QTest::newRow("gap values skipped") << Points{{0, 3}, {1, kNaN}, {2, kInf}, {3, -2}} << 4 << 0.0 << 3.0 << -2.0 << 3.0;
    QTest::newRow("non-finite x dropped") << Points{{kNaN, 100}, {1, 4}, {kInf, -100}} << 1 << 1.0 << 1.0 << 4.0 << 4.0;
    QTest::newRow("out of order x") << Points{{5, 1}, {1, 2}, {3, 3}} << 3 << 1.0 << 5.0 << 1.0 << 3.0;
  }
  void runningExtremes() {
    QFETCH(Points, points);
    QFETCH(int, count);
    PlotChart chart(kChannelChartTraces);
    for (const QPointF &p : points)
      chart.addPoint(1, p.x(), p.y());
    QCOMPARE(chart.pointCount(1), count);
    QFETCH(double, minX);
    QFETCH(double, maxX);
    QFETCH(double, minY);
    QFETCH(double, maxY);
    QCOMPARE(chart.minX(1).value(), minX);
    QCOMPARE(chart.maxX(1).value(), maxX);
    QCOMPARE(chart.minY(1).value(), minY);
    QCOMPARE(chart.maxY(1).value(), maxY);
    QVERIFY(!chart.minY(0).has_value()); // other traces untouched

    // The same through the batch API.
    PlotChart batch(kChannelChartTraces);
    QVector<double> xs;
    QVector<double> ys;
    for (const QPointF &p : points) {
      xs << p.x();
      ys << p.y();
    }
    batch.addPoints(1, xs, ys, false);
    QCOMPARE(batch.pointCount(1), count);
    QCOMPARE(batch.minY(1).value(), minY);
    QCOMPARE(batch.maxY(1).value(), maxY);
    QCOMPARE(batch.maxX(1).value(), maxX);

    // Clearing forgets the old extremes.
    chart.clearTrace(1);
    QCOMPARE(chart.pointCount(1), 0);
    QVERIFY(!chart.minY(1).has_value());
    QVERIFY(!chart.maxX(1).has_value());
    chart.addPoint(1, 10, 0.5);
    QCOMPARE(chart.minY(1).value(), 0.5);
    QCOMPARE(chart.maxY(1).value(), 0.5);
    QCOMPARE(chart.minX(1).value(), 10.0);
  }

  void pointAccess() {
    PlotChart chart(kCompareChartTraces);
    QCOMPARE(chart.traceCount(), 11);
    for (int i = 0; i < 5; ++i)
      chart.addPoint(10, i * 0.5, i * i);
    QCOMPARE(chart.pointCount(10), 5);
    QCOMPARE(chart.pointX(10, 3), 1.5);
    QCOMPARE(chart.pointY(10, 3), 9.0);
    QVERIFY(std::isnan(chart.pointY(10, 5)));
    QVERIFY(std::isnan(chart.pointX(10, -1)));
    // Out-of-range traces are ignored, not a crash.
    chart.addPoint(11, 1, 1);
    chart.addPoint(-1, 1, 1);
    QCOMPARE(chart.pointCount(11), 0);
  }

  void zoomInThenOutRestores_data() {
    QTest::addColumn<int>("axis");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("span");
    QTest::newRow("x") << int(ChartAxis::X) << 0.0 << 24.0;
    QTest::newRow("y") << int(ChartAxis::Y) << -10.0 << 50.0;
    QTest::newRow("y small") << int(ChartAxis::Y) << 1000.0 << 0.003;
  }
  void zoomInThenOutRestores() {
    QFETCH(int, axis);
    QFETCH(double, min);
    QFETCH(double, span);
    const auto a = static_cast<ChartAxis>(axis);
    PlotChart chart(kChannelChartTraces);
    chart.setAxisRange(a, min, span);
    const double centre = min + span / 2;
    const double scale = std::abs(centre) + span;
    chart.zoom(a, 0.8);
    QVERIFY(near(chart.axisSpan(a), span * 0.8, scale));
    QVERIFY(near(chart.axisMin(a) + chart.axisSpan(a) / 2, centre, scale));
    chart.zoom(a, 1.25);
    QVERIFY(near(chart.axisSpan(a), span, scale));
    QVERIFY(near(chart.axisMin(a) + chart.axisSpan(a) / 2, centre, scale));
    // A senseless factor changes nothing.
    const double before = chart.axisSpan(a);
    chart.zoom(a, 0);
    chart.zoom(a, -2);
    chart.zoom(a, std::numeric_limits<double>::quiet_NaN());
    QCOMPARE(chart.axisSpan(a), before);
  }

  void zoomToFitWithoutSpreadChangesNothing_data() {
    QTest::addColumn<Points>("points");
    QTest::newRow("no points") << Points{};
    QTest::newRow("one point") << Points{{3, 3}};
    QTest::newRow("equal values") << Points{{3, 3}, {3, 3}};
  }
  void zoomToFitWithoutSpreadChangesNothing() {
    QFETCH(Points, points);
    PlotChart chart(kChannelChartTraces);
    chart.setAxisRange(ChartAxis::X, 5, 24);
    chart.setAxisRange(ChartAxis::Y, -1, 50);
    for (const QPointF &p : points)
      chart.addPoint(2, p.x(), p.y());
    QVERIFY(!chart.zoomToFit(ChartAxis::X));
    QVERIFY(!chart.zoomToFit(ChartAxis::Y));
    QCOMPARE(chart.axisMin(ChartAxis::X), 5.0);
    QCOMPARE(chart.axisSpan(ChartAxis::X), 24.0);
    QCOMPARE(chart.axisMin(ChartAxis::Y), -1.0);
    QCOMPARE(chart.axisSpan(ChartAxis::Y), 50.0);
  }

  void zoomToFitCoversAllTraces() {
    PlotChart chart(kChannelChartTraces);
    chart.setAxisRange(ChartAxis::X, 0, 1);
    chart.addPoint(0, 2, 10);
    chart.addPoint(0, 8, -4);
    chart.addPoint(3, -1, 7);
    chart.addPoint(3, 5, 30);
    QVERIFY(chart.zoomToFit(ChartAxis::X));
    QCOMPARE(chart.axisMin(ChartAxis::X), -1.0);
    QCOMPARE(chart.axisSpan(ChartAxis::X), 9.0);
    QVERIFY(chart.zoomToFit(ChartAxis::Y));
    QCOMPARE(chart.axisMin(ChartAxis::Y), -4.0);
    QCOMPARE(chart.axisSpan(ChartAxis::Y), 34.0);
  }

  void tracking_data() {
    QTest::addColumn<bool>("trackX");
    QTest::addColumn<bool>("trackY");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<double>("xMin");
    QTest::addColumn<double>("yMin");
    QTest::addColumn<double>("ySpan");
    // Window X 0..10, Y 0..50.
    QTest::newRow("x on, beyond the end: newest at the right edge") << true << false << QPointF(13, 5) << 3.0 << 0.0 << 50.0;
    QTest::newRow("x on, far beyond") << true << false << QPointF(1000, 5) << 990.0 << 0.0 << 50.0;
    QTest::newRow("x on, inside the window") << true << false << QPointF(7, 5) << 0.0 << 0.0 << 50.0;
    QTest::newRow("x off leaves the axis") << false << false << QPointF(13, 5) << 0.0 << 0.0 << 50.0;
    QTest::newRow("y on widens upwards") << false << true << QPointF(5, 80) << 0.0 << 0.0 << 80.0;
    QTest::newRow("y on widens downwards") << false << true << QPointF(5, -20) << 0.0 << -20.0 << 70.0;
    QTest::newRow("y on, inside the range") << false << true << QPointF(5, 20) << 0.0 << 0.0 << 50.0;
    QTest::newRow("y off leaves the axis") << false << false << QPointF(5, 80) << 0.0 << 0.0 << 50.0;
  }
  void tracking() {
    QFETCH(bool, trackX);
    QFETCH(bool, trackY);
    QFETCH(QPointF, point);
    QFETCH(double, xMin);
    QFETCH(double, yMin);
    QFETCH(double, ySpan);
    PlotChart chart(kChannelChartTraces);
    chart.setAxisRange(ChartAxis::X, 0, 10);
    chart.setAxisRange(ChartAxis::Y, 0, 50);
    chart.setTracking(ChartAxis::X, trackX);
    chart.setTracking(ChartAxis::Y, trackY);
    chart.addPoint(0, point.x(), point.y());
    QCOMPARE(chart.axisMin(ChartAxis::X), xMin);
    QCOMPARE(chart.axisSpan(ChartAxis::X), 10.0);
    QCOMPARE(chart.axisMin(ChartAxis::Y), yMin);
    QCOMPARE(chart.axisSpan(ChartAxis::Y), ySpan);
  }

  void trackingFollowsBatches() {
    PlotChart chart(kChannelChartTraces);
    chart.setAxisRange(ChartAxis::X, 0, 10);
    chart.setTracking(ChartAxis::X, true);
    chart.addPoints(0, {11, 12, 25}, {1, 2, 3}, true);
    QCOMPARE(chart.axisMin(ChartAxis::X), 15.0);
    QCOMPARE(chart.axisSpan(ChartAxis::X), 10.0);
  }

  void desiredIncrement_data() {
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("span");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("increment");
    QTest::addColumn<QVector<double>>("ticks");
    QTest::newRow("span / 10") << 0.0 << 50.0 << 0.0 << 5.0
                               << QVector<double>{0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50};
    QTest::newRow("span / 20") << 0.0 << 10.0 << 0.0 << 0.5
                               << QVector<double>{0, 0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5, 5.5, 6, 6.5, 7,
                                                  7.5, 8, 8.5, 9, 9.5, 10};
    QTest::newRow("offset start") << 0.0 << 12.0 << 1.5 << 3.0 << QVector<double>{1.5, 4.5, 7.5, 10.5};
    QTest::newRow("negative range") << -20.0 << 15.0 << -20.0 << 5.0 << QVector<double>{-20, -15, -10, -5};
  }
  void desiredIncrement() {
    QFETCH(double, min);
    QFETCH(double, span);
    QFETCH(double, start);
    QFETCH(double, increment);
    QFETCH(QVector<double>, ticks);
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    chart.resize(600, 600); // room for 21 labels
    chart.setAxisRange(ChartAxis::Y, min, span);
    chart.setDesiredStart(ChartAxis::Y, start);
    chart.setDesiredIncrement(ChartAxis::Y, increment);
    chart.replotNow();
    const QVector<double> got = chart.plot()->yAxis->tickVector();
    QCOMPARE(got.size(), ticks.size());
    for (int i = 0; i < got.size(); ++i)
      QVERIFY2(std::abs(got[i] - ticks[i]) < 1e-9, qPrintable(QString::number(got[i])));
  }

  void desiredIncrementZoomedFarOutStaysBounded() {
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    chart.setAxisRange(ChartAxis::Y, 0, 50);
    chart.setDesiredIncrement(ChartAxis::Y, 5);
    chart.setAxisSpan(ChartAxis::Y, 5e9);
    chart.replotNow();
    const QVector<double> got = chart.plot()->yAxis->tickVector();
    QVERIFY(!got.isEmpty());
    QVERIFY(got.size() <= PlotChart::kMaxTicks + 2);
  }

  void ticksStayLabelledWhenZoomed_data() {
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("steps");
    QTest::newRow("zoom in") << "in" << 6;
    QTest::newRow("zoom in far") << "in" << 20;
    QTest::newRow("zoom out") << "out" << 6;
    QTest::newRow("zoom out far") << "out" << 60;
    QTest::newRow("zoom box") << "box" << 1;
    QTest::newRow("zoom box twice") << "box" << 2;
  }
  void ticksStayLabelledWhenZoomed() {
    QFETCH(QString, op);
    QFETCH(int, steps);
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    chart.setAxisRange(ChartAxis::Y, 0, 50);
    chart.setDesiredStart(ChartAxis::Y, 0);
    chart.setDesiredIncrement(ChartAxis::Y, 5);
    chart.replotNow();
    QCustomPlot *p = chart.plot();
    for (int i = 0; i < steps; ++i) {
      if (op == "in") {
        chart.zoom(ChartAxis::Y, 0.8);
      } else if (op == "out") {
        chart.zoom(ChartAxis::Y, 1.25);
      } else {
        // A box over the middle fifth of the data area's height.
        chart.setZoomBoxMode(true);
        const QRect r = p->axisRect()->rect();
        const QPointF from(r.left() + r.width() * 0.2, r.top() + r.height() * 0.4);
        const QPointF to(r.left() + r.width() * 0.8, r.top() + r.height() * 0.6);
        sendMouse(p, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        sendMouse(p, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        sendMouse(p, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
      }
      chart.replotNow();
    }
    if (op == "box")
      QVERIFY(chart.axisSpan(ChartAxis::Y) < 50.0 / std::pow(4.0, steps));
    const QCPRange range = p->yAxis->range();
    const QVector<double> ticks = p->yAxis->tickVector();
    const QVector<QString> labels = p->yAxis->tickVectorLabels();
    int inView = 0;
    for (double t : ticks)
      inView += range.contains(t) ? 1 : 0;
    QVERIFY2(inView >= PlotChart::kMinTicks && inView <= PlotChart::kMaxTicks, qPrintable(QString::number(inView)));
    QVERIFY(p->yAxis->tickLabels());
    QCOMPARE(labels.size(), ticks.size());
    for (int i = 0; i < labels.size(); ++i) {
      QVERIFY(!labels[i].isEmpty());
      if (i > 0)
        QVERIFY2(labels[i] != labels[i - 1], qPrintable(labels[i]));
    }
  }

  void yLabelsNeverOverlap_data() {
    QTest::addColumn<int>("height");
    for (int h : {45, 60, 86, 120, 170, 300})
      QTest::addRow("%d px", h) << h;
  }
  void yLabelsNeverOverlap() {
    QFETCH(int, height);
    PlotChart chart(kChannelChartTraces);
    chart.setFitToHeight(true, true);
    chart.setTitle("通道1测试");
    chart.setAxisTitle(ChartAxis::X, "时间(小时)");
    chart.setAxisTitle(ChartAxis::Y, "通道1");
    chart.setAxisRange(ChartAxis::Y, 0, 50);
    chart.setDesiredIncrement(ChartAxis::Y, 5);
    chart.setFixedSize(600, height);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.replotNow();
    const QCPAxis *y = chart.plot()->yAxis;
    const QVector<double> ticks = y->tickVector();
    QVERIFY(ticks.size() >= 2);
    const int labelHeight = QFontMetrics(y->tickLabelFont()).height();
    for (int i = 1; i < ticks.size(); ++i)
      QVERIFY2(std::abs(y->coordToPixel(ticks[i]) - y->coordToPixel(ticks[i - 1])) >= labelHeight,
               qPrintable(QString("%1 ticks, labels %2 px high").arg(ticks.size()).arg(labelHeight)));
    QVERIFY(chart.plot()->axisRect()->rect().height() * 2 >= height);
  }

  void legendListsShownTracesInOrder_data() {
    QTest::addColumn<QList<int>>("shown");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("none") << QList<int>{} << QStringList{};
    QTest::newRow("live trace") << QList<int>{0} << QStringList{"1"};
    QTest::newRow("listed out of order") << QList<int>{3, 0} << QStringList{"1", "4"};
    QTest::newRow("shown then hidden") << QList<int>{2, -2, 4} << QStringList{"5"};
  }
  void legendListsShownTracesInOrder() {
    QFETCH(QList<int>, shown);
    QFETCH(QStringList, entries);
    PlotChart chart(kChannelChartTraces);
    chart.setLegendTitle(QStringLiteral("批次"));
    for (int t : shown) {
      // A negative entry -t hides trace t.
      if (t < 0)
        chart.setTraceInLegend(-t, false);
      else
        chart.setTraceInLegend(t, true);
    }
    QCOMPARE(chart.legendEntries(), entries);
    QCOMPARE(chart.plot()->legend->visible(), !entries.isEmpty());
    QCOMPARE(chart.legendTitle(), QStringLiteral("批次"));
  }

  void traceStyle() {
    PlotChart chart(kChannelChartTraces);
    chart.setTraceColor(0, QColor(1, 2, 3));
    chart.setMarkersVisible(0, true);
    chart.setMarkerSize(0, 2);
    QCPGraph *g = chart.plot()->graph(0);
    QCOMPARE(g->pen().color(), QColor(1, 2, 3));
    QCOMPARE(g->scatterStyle().shape(), QCPScatterStyle::ssDisc);
    QCOMPARE(g->scatterStyle().size(), 2.0);
    // Line off with markers on: the points stay visible.
    chart.setTraceVisible(0, false);
    QCOMPARE(g->lineStyle(), QCPGraph::lsNone);
    QVERIFY(g->visible());
    chart.setMarkersVisible(0, false);
    QVERIFY(!g->visible());
  }

  void markersThinOutWhenDenserThanPixels_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<bool>("thinned");
    QTest::newRow("few points: every marker") << 100 << false;
    QTest::newRow("a point per pixel: every marker") << 500 << false;
    QTest::newRow("many points: thinned") << 200000 << true;
  }
  void markersThinOutWhenDenserThanPixels() {
    QFETCH(int, points);
    QFETCH(bool, thinned);
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    QVector<double> x(points);
    QVector<double> y(points, 1.0);
    for (int i = 0; i < points; ++i)
      x[i] = i;
    chart.addPoints(0, x, y, true);
    chart.setMarkersVisible(0, true);
    chart.setAxisRange(ChartAxis::X, 0, points);
    chart.replotNow();
    const int skip = chart.plot()->graph(0)->scatterSkip();
    QCOMPARE(skip > 0, thinned);
    const int width = chart.plot()->axisRect()->width();
    // The graph holds the points drawn: all of them when few, a handful per column when many.
    const int drawn = chart.plot()->graph(0)->dataCount();
    QVERIFY(drawn <= qMax(points, 4 * width + 2));
    QVERIFY(drawn <= 4 * width + 2 || drawn == points);
    QVERIFY(drawn / (skip + 1) <= width * PlotChart::kMarkersPerPixel + 1);
  }

  void titleVisibility() {
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    chart.setTitle(QStringLiteral("通道1测试"));
    chart.replotNow();
    const int withTitle = chart.plot()->axisRect()->rect().height();
    chart.setTitleVisible(false);
    chart.replotNow();
    QVERIFY(chart.plot()->axisRect()->rect().height() > withTitle);
    chart.setTitleVisible(true);
    chart.replotNow();
    QCOMPARE(chart.plot()->axisRect()->rect().height(), withTitle);
    QCOMPARE(chart.title(), QStringLiteral("通道1测试"));
  }

  void addingPointsCoalescesReplots() {
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    QSignalSpy replots(chart.plot(), &QCustomPlot::afterReplot);
    for (int i = 0; i < 1000; ++i)
      chart.addPoint(0, i, i % 7);
    QCOMPARE(replots.count(), 0); // nothing painted synchronously
    QVERIFY(chart.replotPending());
    QTRY_COMPARE(replots.count(), 1);
    QVERIFY(!chart.replotPending());
  }

  // A held chart (during a long open) paints nothing however long it waits, and once released
  // paints what changed meanwhile, once.
  void heldChartReplotsOnRelease() {
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    QSignalSpy replots(chart.plot(), &QCustomPlot::afterReplot);
    chart.setReplotHeld(true);
    for (int i = 0; i < 100; ++i) {
      chart.addPoint(0, i, i % 7);
      QTest::qWait(PlotChart::kReplotIntervalMs / 4);
    }
    QCOMPARE(replots.count(), 0);
    QVERIFY(chart.replotPending());
    chart.setReplotHeld(false);
    QTRY_COMPARE(replots.count(), 1);
    QVERIFY(!chart.replotPending());
    QTest::qWait(2 * PlotChart::kReplotIntervalMs);
    QCOMPARE(replots.count(), 1);
  }

  // Two charts due in the same pass are not replotted back to back: something queued after the
  // first replot (here a zero timer) runs before the second.
  void chartsDueTogetherReplotInTurn() {
    PlotChart a(kChannelChartTraces);
    PlotChart b(kChannelChartTraces);
    showChart(a);
    showChart(b);
    QStringList order;
    const auto replotted = [&order](const QString &name) {
      order << name;
      if (order.size() == 1)
        QTimer::singleShot(0, [&order] { order << QStringLiteral("next pass"); });
    };
    connect(a.plot(), &QCustomPlot::afterReplot, this, [&] { replotted(QStringLiteral("a")); });
    connect(b.plot(), &QCustomPlot::afterReplot, this, [&] { replotted(QStringLiteral("b")); });
    a.addPoint(0, 1, 1);
    b.addPoint(0, 1, 1);
    QThread::msleep(2 * PlotChart::kReplotIntervalMs); // both timers are overdue at the next pass
    QTRY_COMPARE(order.size(), 3);
    QCOMPARE(order[1], QStringLiteral("next pass"));
    QVERIFY(!a.replotPending());
    QVERIFY(!b.replotPending());
  }

  void cursorValue_data() {
    QTest::addColumn<double>("xMin");
    QTest::addColumn<double>("percent");
    QTest::addColumn<double>("expected");
    // Points (0,0) (10,10) (20,0) (30,NaN) (40,4); X axis span 40.
    QTest::newRow("on a point") << 0.0 << 25.0 << 10.0;
    QTest::newRow("interpolated rising") << 0.0 << 12.5 << 5.0;
    QTest::newRow("interpolated falling") << 0.0 << 37.5 << 5.0;
    QTest::newRow("left of the first point") << -20.0 << 0.0 << 0.0;
    QTest::newRow("right of the last point") << 20.0 << 100.0 << 4.0;
    QTest::newRow("gap on the right gives the left") << 0.0 << 62.5 << 0.0;
    QTest::newRow("gap on the left gives the right") << 0.0 << 87.5 << 4.0;
  }
  void cursorValue() {
    QFETCH(double, xMin);
    QFETCH(double, percent);
    QFETCH(double, expected);
    PlotChart chart(kChannelChartTraces);
    chart.setAxisRange(ChartAxis::X, xMin, 40);
    QVERIFY(!chart.cursorValue(0).has_value());
    chart.addPoints(0, {0, 10, 20, 30, 40}, {0, 10, 0, kNaN, 4}, true);
    chart.setCursorPosition(percent);
    QCOMPARE(chart.cursorPosition(), percent);
    QVERIFY(qFuzzyCompare(chart.cursorValue(0).value() + 1, expected + 1));
    QVERIFY(!chart.cursorValue(1).has_value());
  }

  void cursorDragEmitsMoved_data() {
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("emitted");
    QTest::newRow("cursor shown") << true << 2;
    QTest::newRow("cursor hidden") << false << 0;
  }
  void cursorDragEmitsMoved() {
    QFETCH(bool, visible);
    QFETCH(int, emitted);
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    chart.setCursorVisible(visible);
    chart.setCursorPosition(10);
    QSignalSpy moved(&chart, &PlotChart::dataCursorMoved);
    const QRect r = chart.plot()->axisRect()->rect();
    QWidget *w = chart.plot();
    sendMouse(w, QEvent::MouseButtonPress, QPointF(r.left() + r.width() / 2.0, r.center().y()), Qt::LeftButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseMove, QPointF(r.left() + r.width() * 0.75, r.center().y()), Qt::NoButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, QPointF(r.left() + r.width() * 0.75, r.center().y()), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(moved.count(), emitted);
    if (visible) {
      QCOMPARE(moved.first().first().toInt(), 0);
      QVERIFY(std::abs(chart.cursorPosition() - 75) < 1);
    } else {
      QCOMPARE(chart.cursorPosition(), 10.0);
    }
  }

  void draggingTheXAxisScrollsAndReports() {
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    chart.setAxisRange(ChartAxis::X, 0, 10);
    QSignalSpy moves(&chart, &PlotChart::xAxisMouseMove);
    const QRect r = chart.plot()->axisRect()->rect();
    QWidget *w = chart.plot();
    const double y = r.bottom() + 8;
    sendMouse(w, QEvent::MouseButtonPress, QPointF(r.center().x(), y), Qt::LeftButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseMove, QPointF(r.center().x() - r.width() / 2.0, y), Qt::NoButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, QPointF(r.center().x() - r.width() / 2.0, y), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(moves.count(), 1);
    QCOMPARE(moves.first().first().value<Qt::MouseButtons>(), Qt::MouseButtons(Qt::LeftButton));
    // Dragged left by half the width: the window moved forward by half its span.
    QVERIFY(std::abs(chart.axisMin(ChartAxis::X) - 5) < 0.1);
    QCOMPARE(chart.axisSpan(ChartAxis::X), 10.0);
    // A move inside the data area is no X axis move.
    sendMouse(w, QEvent::MouseMove, QPointF(r.center()), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(moves.count(), 1);
  }

  void zoomBoxZoomsIntoTheRectangle() {
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    chart.setAxisRange(ChartAxis::X, 0, 100);
    chart.setAxisRange(ChartAxis::Y, 0, 100);
    chart.setTracking(ChartAxis::X, true);
    chart.setZoomBoxMode(true);
    QVERIFY(chart.zoomBoxMode());
    QCustomPlot *p = chart.plot();
    const QRect r = p->axisRect()->rect();
    const QPointF from(r.left() + r.width() * 0.25, r.top() + r.height() * 0.25);
    const QPointF to(r.left() + r.width() * 0.75, r.top() + r.height() * 0.75);
    sendMouse(p, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    sendMouse(p, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    sendMouse(p, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    QVERIFY(std::abs(chart.axisMin(ChartAxis::X) - 25) < 1);
    QVERIFY(std::abs(chart.axisSpan(ChartAxis::X) - 50) < 1);
    QVERIFY(std::abs(chart.axisMin(ChartAxis::Y) - 25) < 1);
    QVERIFY(!chart.tracking(ChartAxis::X));
    chart.setZoomBoxMode(false);
    QCOMPARE(p->selectionRectMode(), QCP::srmNone);
  }

  void focusAndDoubleClickSignals() {
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *chart = new PlotChart(kChannelChartTraces);
    auto *other = new QLineEdit;
    layout->addWidget(chart);
    layout->addWidget(other);
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());
    QSignalSpy entered(chart, &PlotChart::focusEntered);
    QSignalSpy left(chart, &PlotChart::focusLeft);
    QSignalSpy dbl(chart, &PlotChart::doubleClicked);
    chart->setFocus();
    QTRY_COMPARE(entered.count(), 1);
    other->setFocus();
    QTRY_COMPARE(left.count(), 1);
    QTest::mouseDClick(chart->plot(), Qt::LeftButton, {}, chart->plot()->rect().center());
    QCOMPARE(dbl.count(), 1);
  }

  void saveImage_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("magic");
    QTest::newRow("png") << "c.png" << true << QByteArray("\x89PNG", 4);
    QTest::newRow("jpg") << "c.jpg" << true << QByteArray("\xFF\xD8\xFF", 3);
    QTest::newRow("jpeg upper case") << "c.JPEG" << true << QByteArray("\xFF\xD8\xFF", 3);
    QTest::newRow("bmp") << "c.bmp" << true << QByteArray("BM");
    QTest::newRow("pdf") << "c.pdf" << true << QByteArray("%PDF");
    QTest::newRow("unknown extension") << "c.gif" << false << QByteArray();
    QTest::newRow("no extension") << "c" << false << QByteArray();
    QTest::newRow("missing folder") << "no/such/dir/c.png" << false << QByteArray();
    QTest::newRow("missing folder pdf") << "no/such/dir/c.pdf" << false << QByteArray();
  }
  void saveImage() {
    QFETCH(QString, name);
    QFETCH(bool, ok);
    QFETCH(QByteArray, magic);
    QTemporaryDir dir;
    PlotChart chart(kChannelChartTraces);
    chart.setTitle(QStringLiteral("通道1测试"));
    for (int i = 0; i < 100; ++i)
      chart.addPoint(0, i * 0.1, std::sin(i * 0.1));
    const QString path = dir.filePath(name);
    QCOMPARE(chart.saveImage(path), ok);
    QCOMPARE(QFileInfo::exists(path), ok);
    if (ok) {
      QCOMPARE(fileHead(path, static_cast<int>(magic.size())), magic);
      QVERIFY(QFileInfo(path).size() > 100);
    }
  }

  void printToPdfPrinter() {
    QTemporaryDir dir;
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    for (int i = 0; i < 100; ++i)
      chart.addPoint(0, i * 0.1, std::cos(i * 0.1));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setDocName(QStringLiteral("Untitled"));
    const QString path = dir.filePath(QStringLiteral("print.pdf"));
    printer.setOutputFileName(path);
    QVERIFY(chart.print(printer));
    QCOMPARE(fileHead(path, 4), QByteArray("%PDF"));
    QVERIFY(QFileInfo(path).size() > 500);

    QPrinter broken(QPrinter::HighResolution);
    broken.setOutputFormat(QPrinter::PdfFormat);
    broken.setOutputFileName(dir.filePath(QStringLiteral("no/such/dir/print.pdf")));
    QVERIFY(!chart.print(broken));
  }

  // What the graph draws, column by column, against the samples themselves.
  void drawnSpansMatchTheSamples_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<double>("viewShare");
    QTest::addColumn<double>("gapShare");
    QTest::newRow("few points, whole") << 300 << 1.0 << 0.0;
    QTest::newRow("many points, whole") << 200000 << 1.0 << 0.0;
    QTest::newRow("many points, a tenth, gaps") << 200000 << 0.1 << 0.01;
    QTest::newRow("many points, a hundredth") << 200000 << 0.01 << 0.0;
    QTest::newRow("many points, a thousandth: raw") << 200000 << 0.001 << 0.0;
    QTest::newRow("a million, whole, gaps") << 1000000 << 1.0 << 0.001;
  }
  void drawnSpansMatchTheSamples() {
    QFETCH(int, points);
    QFETCH(double, viewShare);
    QFETCH(double, gapShare);
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    QVector<double> x(points);
    QVector<double> y(points);
    quint32 seed = 12345;
    for (int i = 0; i < points; ++i) {
      seed = seed * 1664525u + 1013904223u;
      x[i] = i * 0.5;
      y[i] = (seed >> 8) % 1000 < gapShare * 1000 ? kNaN : std::sin(i * 0.001) * 50 + (seed >> 20) % 7;
    }
    chart.addPoints(0, x, y, true);
    const double lo = x[points / 3];
    const double span = x.last() * viewShare;
    chart.setAxisRange(ChartAxis::X, lo - (viewShare == 1.0 ? lo : 0), span);
    chart.replotNow();
    const QCPRange r = chart.plot()->xAxis->range();
    const int width = chart.plot()->axisRect()->width();
    const QCPGraphDataContainer &d = *chart.plot()->graph(0)->data();
    const auto inView = std::count_if(x.begin(), x.end(), [&](double v) { return v >= r.lower && v <= r.upper; });
    QVERIFY(d.size() <= 5 * width + 4); // first, lowest, highest, a gap, last
    if (inView < width * 2) {
      // Few samples: exactly the samples in view and one either side.
      for (auto it = d.constBegin(); it != d.constEnd(); ++it) {
        const auto at = std::lower_bound(x.begin(), x.end(), it->key) - x.begin();
        QCOMPARE(it->key, x[at]);
        QCOMPARE(std::isnan(it->value), std::isnan(y[at]));
        if (!std::isnan(y[at]))
          QCOMPARE(it->value, y[at]);
      }
      return;
    }
    // Many: per column the drawn lowest and highest are the samples' own.
    const double w = r.size() / width;
    std::map<int, std::pair<double, double>> drawn;
    for (auto it = d.constBegin(); it != d.constEnd(); ++it) {
      if (it->key < r.lower || it->key >= r.upper || std::isnan(it->value))
        continue;
      const int c = static_cast<int>((it->key - r.lower) / w);
      const auto found = drawn.find(c);
      if (found == drawn.end())
        drawn[c] = {it->value, it->value};
      else
        found->second = {qMin(found->second.first, it->value), qMax(found->second.second, it->value)};
    }
    // With a block or more per column the edges sit on block boundaries, the nearer one to
    // the exact edge: the drawn span is that of the samples between those boundaries.
    const bool snapped = double(inView) / width >= SampleStore::kBlock / 2;
    if (points >= 1000000)
      QVERIFY(snapped);
    const auto extremes = [&](qint64 from, qint64 to) {
      std::optional<std::pair<double, double>> e;
      for (qint64 at = std::max<qint64>(from, 0); at < std::min<qint64>(to, points); ++at) {
        if (std::isnan(y[at]))
          continue;
        e = e ? std::pair(qMin(e->first, y[at]), qMax(e->second, y[at])) : std::pair(y[at], y[at]);
      }
      return e;
    };
    const auto edges = [&](double at) {
      const qint64 exact = std::lower_bound(x.begin(), x.end(), at) - x.begin();
      const qint64 k = SampleStore::kBlock;
      return snapped ? std::vector<qint64>{exact, exact / k * k, (exact + k - 1) / k * k} : std::vector<qint64>{exact};
    };
    int columnsWithValues = 0;
    for (int c = 0; c < width; ++c) {
      const double a = r.lower + w * c;
      const double b = c + 1 == width ? r.upper : r.lower + w * (c + 1);
      bool matched = false;
      std::optional<std::pair<double, double>> want;
      for (qint64 from : edges(a))
        for (qint64 to : edges(b)) {
          want = extremes(from, to);
          const auto found = drawn.find(c);
          const bool same = want ? found != drawn.end() && found->second == *want : found == drawn.end();
          matched = matched || same;
        }
      QVERIFY2(matched, qPrintable(QStringLiteral("column %1").arg(c)));
      columnsWithValues += drawn.count(c);
    }
    QVERIFY(columnsWithValues > width / 2);
  }

  void denseTracePaintsLikeTheLibrary_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<double>("amplitude");
    QTest::newRow("noisy band") << 400000 << 8.0;
    QTest::newRow("steady reading") << 400000 << 0.0;
    QTest::newRow("few points: raw") << 300 << 8.0;
  }
  void denseTracePaintsLikeTheLibrary() {
    // The trace strokes its columns its own way; the picture must be what the library's own
    // graph makes of the same points, every column of a band solidly painted.
    QFETCH(int, points);
    QFETCH(double, amplitude);
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    chart.setTraceColor(0, Qt::red);
    QVector<double> x(points);
    QVector<double> y(points);
    quint32 seed = 99;
    for (int i = 0; i < points; ++i) {
      seed = seed * 1664525u + 1013904223u;
      x[i] = i;
      y[i] = 20 + 10 * std::sin(i * 6.0 / points) + amplitude * double((seed >> 8) % 1000) / 1000.0;
    }
    chart.addPoints(0, x, y, true);
    chart.setAxisRange(ChartAxis::X, 0, points - 1);
    chart.setAxisRange(ChartAxis::Y, 0, 50);
    chart.replotNow();
    QCustomPlot &plot = *chart.plot();
    const QPixmap ours = plot.toPixmap();
    // On screen the layers are images the trace writes into; a picture goes through QPainter.
    const QImage screen = plot.grab().toImage();
    QCPGraph *mine = plot.graph(0);
    auto *library = new QCPGraph(plot.xAxis, plot.yAxis);
    library->setAdaptiveSampling(false);
    library->data()->set(*mine->data());
    library->setPen(mine->pen());
    mine->setVisible(false);
    const QPixmap theirs = plot.toPixmap();
    const QImage a = ours.toImage();
    const QImage b = theirs.toImage();
    const auto isRed = [](QRgb c) { return qRed(c) - std::max(qGreen(c), qBlue(c)) > 60; };
    const auto red = [&](const QImage &img, int px, int py) {
      return px >= 0 && py >= 0 && px < img.width() && py < img.height() && isRed(img.pixel(px, py));
    };
    const auto strays = [&](const QImage &p, const QImage &q) { return ImageStrays(p, q, isRed); };
    QCOMPARE(strays(a, b), 0);
    QCOMPARE(strays(b, a), 0);
    QCOMPARE(strays(screen, a), 0);
    QCOMPARE(strays(a, screen), 0);
    if (points < 1000)
      return;
    // Every pixel column of the band painted, its middle in the trace's full colour.
    const QRect rect = plot.axisRect()->rect();
    for (int px = rect.left() + 1; px < rect.right() - 1; ++px) {
      int top = -1, bottom = -1;
      for (int py = rect.top(); py <= rect.bottom(); ++py)
        if (red(a, px, py)) {
          top = top < 0 ? py : top;
          bottom = py;
        }
      QVERIFY2(top >= 0, qPrintable(QStringLiteral("column %1 empty").arg(px)));
      if (amplitude > 0 && bottom - top >= 4) // a band, not a thin sloped line
        QVERIFY2(qRed(a.pixel(px, (top + bottom) / 2)) > 250, qPrintable(QStringLiteral("column %1 faint").arg(px)));
    }
  }

  void sharedStoresAreNotCopied() {
    PlotChart a(kChannelChartTraces);
    PlotChart b(kCompareChartTraces);
    for (int i = 0; i < 1000; ++i)
      a.addPoint(0, i, i % 10 == 3 ? kNaN : i * 0.25);
    b.setTraceStore(4, a.traceStore(0), a.traceXScale(0), true);
    QCOMPARE(b.traceStore(4).get(), a.traceStore(0).get());
    QCOMPARE(b.pointCount(4), 1000);
    a.addPoint(0, 1000, 99999);
    // A snapshot shows what there was when it was taken; the channel chart goes on.
    QCOMPARE(b.pointCount(4), 1000);
    QCOMPARE(*b.maxY(4), 999 * 0.25);
    QCOMPARE(*a.maxY(0), 99999.0);
    for (int j : {0, 3, 511, 999}) {
      QCOMPARE(b.pointX(4, j), a.pointX(0, j));
      QCOMPARE(std::isnan(b.pointY(4, j)), std::isnan(a.pointY(0, j)));
    }
    // Clearing the channel chart leaves the comparison alone.
    a.clearTrace(0);
    QCOMPARE(a.pointCount(0), 0);
    QCOMPARE(b.pointCount(4), 1000);
  }

  // A repaint reuses the points a trace made last time only while nothing they came from
  // changed: each change below must show in the graph's points.
  void drawnPointsFollowEveryChange_data() {
    QTest::addColumn<QString>("change");
    QTest::newRow("a new sample") << "sample";
    QTest::newRow("the view moved") << "view";
    QTest::newRow("another store") << "store";
    QTest::newRow("a new unit") << "unit";
    QTest::newRow("cleared and refilled") << "clear";
  }
  void drawnPointsFollowEveryChange() {
    QFETCH(QString, change);
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    chart.addPoints(0, {0, 1, 2, 3}, {1, 2, 3, 4}, true);
    chart.setAxisRange(ChartAxis::X, 0, 10);
    chart.replotNow();
    const QCPGraphDataContainer &d = *chart.plot()->graph(0)->data();
    QCOMPARE(d.size(), 4);
    chart.replotNow(); // nothing changed: the same points
    QCOMPARE(d.size(), 4);
    double wantLastKey = 3;
    double wantLastValue = 4;
    if (change == "sample") {
      chart.addPoint(0, 4, 9);
      wantLastKey = 4;
      wantLastValue = 9;
    } else if (change == "view") {
      chart.setAxisRange(ChartAxis::X, 2.5, 10); // sample 2 only as the one left of the view
    } else if (change == "store") {
      auto other = std::make_shared<SampleStore>();
      for (int i = 0; i < 4; ++i)
        other->append(i, 10 + i);
      chart.setTraceStore(0, other);
      wantLastValue = 13;
    } else if (change == "unit") {
      chart.rescaleX(0, 2);
      wantLastKey = 6;
    } else {
      chart.clearTrace(0);
      chart.addPoints(0, {0, 1, 2, 3}, {7, 7, 7, 5}, true);
      wantLastValue = 5;
    }
    chart.replotNow();
    QVERIFY(!d.isEmpty());
    QCOMPARE((d.constEnd() - 1)->key, wantLastKey);
    QCOMPARE((d.constEnd() - 1)->value, wantLastValue);
    if (change == "view")
      QCOMPARE(d.constBegin()->key, 2.0);
  }

  // A chart of many traces makes their points on two threads: each graph gets its own
  // trace's points, also where two traces share one store.
  void manyTracesEachGetTheirOwnPoints() {
    PlotChart chart(kCompareChartTraces);
    showChart(chart);
    std::vector<std::shared_ptr<SampleStore>> stores;
    for (int t = 0; t < kCompareChartTraces - 1; ++t) {
      auto store = std::make_shared<SampleStore>();
      for (int i = 0; i < 5000; ++i)
        store->append(i, t * 100 + (i % 7));
      stores.push_back(store);
      chart.setTraceStore(t, store, 1, t % 3 == 0);
    }
    chart.setTraceStore(kCompareChartTraces - 1, stores[1], 2); // shared, drawn at twice the x
    chart.setAxisRange(ChartAxis::X, 0, 10000);
    chart.replotNow();
    for (int t = 0; t < kCompareChartTraces; ++t) {
      const QCPGraphDataContainer &d = *chart.plot()->graph(t)->data();
      QVERIFY2(!d.isEmpty(), qPrintable(QString::number(t)));
      const int owner = t == kCompareChartTraces - 1 ? 1 : t;
      for (auto it = d.constBegin(); it != d.constEnd(); ++it)
        if (!std::isnan(it->value))
          QVERIFY2(it->value >= owner * 100 && it->value <= owner * 100 + 6, qPrintable(QString::number(t)));
      const double scale = t == kCompareChartTraces - 1 ? 2 : 1;
      QVERIFY((d.constEnd() - 1)->key < 5100 * scale && (d.constEnd() - 1)->key > 4000 * scale);
    }
  }

  void rescaleChangesTheUnitWithoutRewriting() {
    PlotChart chart(kChannelChartTraces);
    showChart(chart);
    chart.addPoints(0, {0, 60, 120}, {1, 2, 3}, true);
    chart.addPoints(1, {0, 60}, {5, 6}, true);
    const auto store = chart.traceStore(0);
    chart.rescaleX(0, 1.0 / 60); // seconds to minutes
    QCOMPARE(chart.traceStore(0).get(), store.get());
    QCOMPARE(chart.pointX(0, 2), 2.0);
    QCOMPARE(chart.pointX(1, 1), 60.0); // only the trace asked for
    QCOMPARE(*chart.maxX(0), 2.0);
    chart.addPoint(0, 3, 4); // in minutes now
    QCOMPARE(chart.pointX(0, 3), 3.0);
    chart.setCursorVisible(true);
    chart.setAxisRange(ChartAxis::X, 0, 3);
    chart.setCursorPosition(50); // 1.5 min, between 1 and 2 min
    QCOMPARE(*chart.cursorValue(0), 2.5);
  }
};

QTEST_MAIN(TestPlotChart)
#include "tst_plotchart.moc"
