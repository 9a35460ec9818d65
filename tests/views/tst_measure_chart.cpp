#include "views/PlotChart.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>
#include <qcustomplot.h>

#include <cmath>

namespace {

// A sample at every even x from 0 to 98 on trace 0, the axis over [0, 100]: about 14 px apart.
void fill(PlotChart &chart) {
  for (int i = 0; i < 50; ++i)
    chart.addPoint(0, 2 * i, 50 + 20 * std::sin(i * 0.2));
  chart.setLegendTitle(QStringLiteral("批次"));
  chart.setAxisRange(ChartAxis::X, 0, 100);
  chart.setAxisRange(ChartAxis::Y, 0, 100);
  chart.setMeasureFormat([](int) { return 2; }, {QStringLiteral("秒"), 3});
}

void showChart(PlotChart &chart) {
  chart.resize(1200, 400);
  chart.show();
  QVERIFY(QTest::qWaitForWindowExposed(&chart));
  chart.replotNow();
}

QPoint pixelOf(const PlotChart &chart, double x) {
  const QCPAxisRect *r = chart.plot()->axisRect();
  return {int(std::lround(chart.plot()->xAxis->coordToPixel(x))), r->rect().center().y()};
}

std::optional<double> at(const PlotChart &c, MarkerId m) { return c.marker(m); }

// The readout's place in the plot layout: the element left of the axis rect.
QRect readoutRect(const PlotChart &chart) {
  QCPLayoutGrid *grid = chart.plot()->plotLayout();
  for (int r = 0; r < grid->rowCount(); ++r) {
    if (grid->columnCount() > 1 && grid->element(r, 1) == chart.plot()->axisRect())
      return grid->element(r, 0) ? grid->element(r, 0)->outerRect() : QRect();
  }
  return {};
}

// Pixel rows of the rectangle that hold a pixel of the given colour.
int inkRows(const QImage &img, const QRect &r, const QColor &ink) {
  int rows = 0;
  for (int y = r.top(); y <= r.bottom() && y < img.height(); ++y) {
    for (int x = r.left(); x <= r.right() && x < img.width(); ++x) {
      const QColor c = img.pixelColor(x, y);
      if (std::abs(c.red() - ink.red()) + std::abs(c.green() - ink.green()) + std::abs(c.blue() - ink.blue()) < 120) {
        ++rows;
        break;
      }
    }
  }
  return rows;
}

} // namespace

class TestMeasureChart : public QObject {
  Q_OBJECT
private slots:
  void clicksPlaceTheMarkers_data() {
    QTest::addColumn<QList<double>>("clicks"); // axis x of each click
    QTest::addColumn<double>("a");             // NaN: not set
    QTest::addColumn<double>("b");
    const double none = std::nan("");
    QTest::newRow("first click: A, snapped") << QList<double>{20.3} << 20.0 << none;
    QTest::newRow("second click: B") << QList<double>{20.3, 60.2} << 20.0 << 60.0;
    QTest::newRow("third click moves the nearer: A") << QList<double>{20.0, 60.0, 30.4} << 30.0 << 60.0;
    QTest::newRow("third click moves the nearer: B") << QList<double>{20.0, 60.0, 46.3} << 20.0 << 46.0;
    QTest::newRow("no sample in reach: where clicked") << QList<double>{41.0} << 41.0 << none;
  }
  void clicksPlaceTheMarkers() {
    QFETCH(QList<double>, clicks);
    QFETCH(double, a);
    QFETCH(double, b);
    PlotChart chart(kChannelChartTraces);
    fill(chart);
    showChart(chart);
    QCOMPARE(chart.measureReadout(), QString());
    chart.setMeasuring(true);
    chart.replotNow(); // the readout takes its column
    QCOMPARE(chart.measureReadout(), kMeasureHint);
    QSignalSpy moved(&chart, &PlotChart::markersMoved);
    for (double x : clicks)
      QTest::mouseClick(chart.plot(), Qt::LeftButton, {}, pixelOf(chart, x));
    QCOMPARE(moved.count(), clicks.size());
    // Within a pixel of where it should be (a click lands on a whole pixel).
    const double unitPerPixel = 100.0 / chart.plot()->axisRect()->width();
    const auto check = [&](MarkerId m, double want) {
      const auto got = at(chart, m);
      QCOMPARE(got.has_value(), !std::isnan(want));
      if (got && std::fmod(want, 2) == 0)
        QCOMPARE(*got, want); // snapped onto the sample
      else if (got)
        QVERIFY2(std::abs(*got - want) <= unitPerPixel, qPrintable(QString::number(*got)));
    };
    check(MarkerId::A, a);
    check(MarkerId::B, b);
  }

  void dragMovesTheGrabbedMarker() {
    PlotChart chart(kChannelChartTraces);
    fill(chart);
    showChart(chart);
    chart.setMeasuring(true);
    chart.setMarker(MarkerId::A, 20);
    chart.setMarker(MarkerId::B, 60);
    chart.replotNow();
    // Pressed 3 px beside B: B is taken along, A stays.
    QWidget *plot = chart.plot();
    const QPoint press = pixelOf(chart, 60) + QPoint(3, 0);
    QTest::mousePress(plot, Qt::LeftButton, {}, press);
    QCOMPARE(*at(chart, MarkerId::B), 60.0); // a press only grabs
    QMouseEvent move(QEvent::MouseMove, QPointF(pixelOf(chart, 80.2)), plot->mapToGlobal(QPointF(pixelOf(chart, 80.2))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(plot, &move);
    QTest::mouseRelease(plot, Qt::LeftButton, {}, pixelOf(chart, 80.2));
    QCOMPARE(*at(chart, MarkerId::B), 80.0);
    QCOMPARE(*at(chart, MarkerId::A), 20.0);
    // The markers keep their time when the view moves; their lines are drawn there.
    chart.setAxisRange(ChartAxis::X, 10, 50);
    chart.replotNow();
    QCOMPARE(*at(chart, MarkerId::A), 20.0);
    int lines = 0;
    for (int i = 0; i < chart.plot()->itemCount(); ++i) {
      auto *line = qobject_cast<QCPItemStraightLine *>(chart.plot()->item(i));
      if (line && line->visible() && (line->point1->coords().x() == 20 || line->point1->coords().x() == 80))
        ++lines;
    }
    QCOMPARE(lines, 2);
    // Off and on again starts afresh.
    chart.setMeasuring(false);
    QVERIFY(readoutRect(chart).isNull());
    chart.setMeasuring(true);
    QVERIFY(!at(chart, MarkerId::A) && !at(chart, MarkerId::B));
  }

  void ctrlCCopiesTheReadout_data() {
    QTest::addColumn<bool>("measuring");
    QTest::newRow("measuring") << true;
    QTest::newRow("not measuring: the clipboard is left alone") << false;
  }
  void ctrlCCopiesTheReadout() {
    QFETCH(bool, measuring);
    PlotChart chart(kChannelChartTraces);
    fill(chart);
    showChart(chart);
    chart.setMeasuring(true);
    chart.setMarker(MarkerId::A, 10);
    chart.setMarker(MarkerId::B, 30);
    chart.setMeasuring(measuring);
    if (measuring) {
      chart.setMarker(MarkerId::A, 10);
      chart.setMarker(MarkerId::B, 30);
    }
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    chart.activateWindow();
    chart.plot()->setFocus();
    QTest::keyClick(chart.plot(), Qt::Key_C, Qt::ControlModifier);
    const QString copied = QGuiApplication::clipboard()->text();
    if (!measuring) {
      QCOMPARE(copied, QStringLiteral("before"));
      return;
    }
    QCOMPARE(copied, chart.measureReadout());
    QVERIFY2(copied.startsWith(QStringLiteral("A 10.000 秒  B 30.000 秒  Δt 20.000 秒\n批次1  A ")), qPrintable(copied));
    QVERIFY(copied.contains(QStringLiteral("点数 11")));
  }

  // The saved picture holds the readout: with both markers it runs to several lines where the
  // hint alone has one.
  void savedPictureShowsTheReadout() {
    QTemporaryDir dir;
    PlotChart chart(kChannelChartTraces);
    fill(chart);
    showChart(chart);
    chart.setTitleColor(Qt::white);
    chart.setMeasuring(true);
    chart.setMarker(MarkerId::A, 10);
    chart.setMarker(MarkerId::B, 30);
    chart.replotNow();
    const QString withMarkers = dir.filePath(QStringLiteral("m.png"));
    QVERIFY(chart.saveImage(withMarkers));
    const QRect withArea = readoutRect(chart);
    chart.setMarker(MarkerId::A, std::nullopt);
    chart.setMarker(MarkerId::B, std::nullopt);
    const QString hintOnly = dir.filePath(QStringLiteral("h.png"));
    QVERIFY(chart.saveImage(hintOnly));
    // The hint is narrower: compare where both readouts lie, left of every axis label.
    const QRect area = withArea.intersected(readoutRect(chart));
    QVERIFY(area.width() > 50);
    const QImage m(withMarkers);
    const QImage h(hintOnly);
    QCOMPARE(m.size(), chart.plot()->size());
    const int lineHeight = QFontMetrics(QFont(chart.font().family(), 9)).height();
    const int readoutRows = inkRows(m, area, Qt::white);
    const int hintRows = inkRows(h, area, Qt::white);
    QVERIFY2(hintRows > 0 && hintRows <= lineHeight, qPrintable(QString::number(hintRows)));
    QVERIFY2(readoutRows >= 3 * hintRows, qPrintable(QStringLiteral("%1 %2").arg(readoutRows).arg(hintRows)));
    // Without measuring the readout's column goes.
    chart.setMeasuring(false);
    chart.replotNow();
    QCOMPARE(chart.plot()->plotLayout()->columnCount(), 1);
  }
};

QTEST_MAIN(TestMeasureChart)
#include "tst_measure_chart.moc"
