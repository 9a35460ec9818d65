#include "views/ViewGeometry.h"

#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(PanelRows)
Q_DECLARE_METATYPE(ChartFit)

class TestViewGeometry : public QObject {
  Q_OBJECT
private slots:
  void arrange_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("count");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QList<QRect>>("rects");
    QTest::newRow("none") << 0 << 0 << QSize(800, 600) << QList<QRect>{};
    QTest::newRow("one stacked") << 0 << 1 << QSize(800, 600) << QList<QRect>{{0, 0, 800, 600}};
    QTest::newRow("one in two columns takes the left half")
        << 1 << 1 << QSize(801, 600) << QList<QRect>{{0, 0, 400, 600}};
    QTest::newRow("three stacked, remainder to the last")
        << 0 << 3 << QSize(800, 301)
        << QList<QRect>{{0, 0, 800, 100}, {0, 100, 800, 100}, {0, 200, 800, 101}};
    QTest::newRow("three in two columns, height 301")
        << 1 << 3 << QSize(801, 301)
        << QList<QRect>{{0, 0, 400, 150}, {400, 0, 401, 150}, {0, 150, 400, 151}};
    QTest::newRow("four in two columns")
        << 1 << 4 << QSize(800, 600)
        << QList<QRect>{{0, 0, 400, 300}, {400, 0, 400, 300}, {0, 300, 400, 300}, {400, 300, 400, 300}};
    QTest::newRow("unknown type falls back to stacked")
        << 7 << 2 << QSize(800, 600) << QList<QRect>{{0, 0, 800, 300}, {0, 300, 800, 300}};
    QTest::newRow("negative type falls back to stacked")
        << -1 << 1 << QSize(10, 10) << QList<QRect>{{0, 0, 10, 10}};
  }
  void arrange() {
    QFETCH(int, type);
    QFETCH(int, count);
    QFETCH(QSize, client);
    QFETCH(QList<QRect>, rects);
    QCOMPARE(ArrangeRects(type, count, client), rects);
  }

  void clampPanel_data() {
    QTest::addColumn<QPoint>("dropped");
    QTest::addColumn<QPoint>("kept");
    // View 400 x 300, panel 177 x 80.
    QTest::newRow("inside stays") << QPoint(50, 40) << QPoint(50, 40);
    QTest::newRow("past the left") << QPoint(-30, 40) << QPoint(3, 40);
    QTest::newRow("near the top") << QPoint(50, 4) << QPoint(50, 3);
    QTest::newRow("past the bottom") << QPoint(50, 290) << QPoint(50, 300 - 80 - 3);
    QTest::newRow("past the right") << QPoint(390, 40) << QPoint(400 - 177 - 3, 40);
    QTest::newRow("corner") << QPoint(999, -999) << QPoint(400 - 177 - 3, 3);
    QTest::newRow("exactly 5 from the left stays") << QPoint(5, 40) << QPoint(5, 40);
  }
  void clampPanel() {
    QFETCH(QPoint, dropped);
    QFETCH(QPoint, kept);
    QCOMPARE(ClampPanel(dropped, QSize(177, 80), QSize(400, 300)), kept);
  }

  void panelPosition() {
    QCOMPARE(PanelPosition(QSize(400, 300), QSize(177, 80), 20, 10), QPoint(203, 10));
  }

  void highlight_data() {
    QTest::addColumn<int>("colour");
    QTest::addColumn<int>("highlight");
    // Sky blue (166,202,240): hue 211, sat 71, light 80 -> light 100 -> white.
    QTest::newRow("default panel background") << 15780518 << 0xFFFFFF;
    // Teal (0,128,128): hue 180, sat 100, light 25 -> 35; 255 x 0.7 = 178.5 rounds to even 178.
    QTest::newRow("teal, half to even") << 8421376 << (0 | (178 << 8) | (178 << 16));
    // Grey (128,128,128): hue 0, sat 0, light 50 -> 70; f = 1 makes 128; w = 0.4 -> 178.8 -> 179.
    QTest::newRow("grey") << 8421504 << (179 | (179 << 8) | (179 << 16));
    QTest::newRow("black stays black") << 0 << 0;
    // Pure red: hue 0, sat 100, light 50 -> 70: w = 0.4 -> (255, 102, 102).
    QTest::newRow("red") << 255 << (255 | (102 << 8) | (102 << 16));
  }
  void highlight() {
    QFETCH(int, colour);
    QFETCH(int, highlight);
    QCOMPARE(HighlightColor(colour), highlight);
  }

  void keepPanelInside_data() {
    QTest::addColumn<QPoint>("wanted");
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<QPoint>("placed");
    // View 400 x 300.
    QTest::newRow("inside stays, even near an edge") << QPoint(2, 2) << QSize(177, 82) << QPoint(2, 2);
    QTest::newRow("right spacing of a wider view") << QPoint(-600, 10) << QSize(177, 82) << QPoint(0, 10);
    QTest::newRow("past the right") << QPoint(390, 10) << QSize(177, 82) << QPoint(223, 10);
    QTest::newRow("below the bottom") << QPoint(20, 500) << QSize(177, 82) << QPoint(20, 218);
    QTest::newRow("larger than the view") << QPoint(20, 20) << QSize(500, 400) << QPoint(0, 0);
  }
  void keepPanelInside() {
    QFETCH(QPoint, wanted);
    QFETCH(QSize, panel);
    QFETCH(QPoint, placed);
    QCOMPARE(KeepPanelInside(wanted, panel, QSize(400, 300)), placed);
  }

  void fitPanelRows_data() {
    QTest::addColumn<int>("viewHeight");
    QTest::addColumn<bool>("showMax");
    QTest::addColumn<PanelRows>("rows");
    QTest::newRow("tall view: design heights") << 600 << true << PanelRows{32, 24, 22};
    QTest::newRow("just fits with 3 px each side") << 88 << true << PanelRows{32, 24, 22};
    QTest::newRow("one pixel short: compact") << 87 << true << PanelRows{24, 17, 17};
    QTest::newRow("hidden row needs no room") << 64 << false << PanelRows{32, 0, 22};
    QTest::newRow("too short for compact: the value only") << 60 << true << PanelRows{24, 0, 0};
  }
  void fitPanelRows() {
    QFETCH(int, viewHeight);
    QFETCH(bool, showMax);
    QFETCH(PanelRows, rows);
    const PanelRows got = FitPanelRows(viewHeight, true, showMax, true);
    QCOMPARE(got.now, rows.now);
    QCOMPARE(got.max, rows.max);
    QCOMPARE(got.min, rows.min);
    QCOMPARE(got.height(), rows.now + rows.max + rows.min + 4);
  }

  void fitChart_data() {
    QTest::addColumn<int>("viewHeight");
    QTest::addColumn<bool>("lowest");
    QTest::addColumn<ChartFit>("fit");
    // Parts below: title row 25; margins 15/15 at normal size, 4/2 compact; labels 19 and 19,
    // compact 14 and 13.
    QTest::newRow("tall view shows everything") << 600 << false << ChartFit{true, true, true, false};
    QTest::newRow("title goes first") << 170 << false << ChartFit{false, true, true, false};
    QTest::newRow("then the X axis title") << 120 << false << ChartFit{false, false, true, false};
    QTest::newRow("then the X tick labels") << 86 << false << ChartFit{false, false, false, false};
    QTest::newRow("the lowest view keeps them, compact") << 86 << true << ChartFit{false, false, true, true};
    QTest::newRow("then margins and fonts") << 40 << false << ChartFit{false, false, false, true};
    QTest::newRow("nothing fits: most compact") << 10 << false << ChartFit{false, false, false, true};
  }
  void fitChart() {
    QFETCH(int, viewHeight);
    QFETCH(bool, lowest);
    QFETCH(ChartFit, fit);
    const ChartParts normal{25, 15, 15, 5, 19, 19};
    const ChartParts compact{25, 4, 2, 1, 14, 13};
    const ChartFit got = FitChart(viewHeight, lowest, normal, compact);
    QCOMPARE(got.title, fit.title);
    QCOMPARE(got.xAxisTitle, fit.xAxisTitle);
    QCOMPARE(got.xTickLabels, fit.xTickLabels);
    QCOMPARE(got.compact, fit.compact);
    if (viewHeight >= 40)
      QVERIFY(ChartDataHeight(viewHeight, got.compact ? compact : normal, got) * 2 >= viewHeight);
  }

  void axisTickStep_data() {
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<double>("origin");
    QTest::addColumn<double>("increment");
    QTest::addColumn<int>("maxTicks");
    QTest::addColumn<double>("step");
    QTest::newRow("desired increment kept") << 0.0 << 50.0 << 0.0 << 5.0 << 50 << 5.0;
    QTest::newRow("four ticks are enough") << 0.0 << 12.0 << 1.5 << 3.0 << 50 << 3.0;
    QTest::newRow("zoomed in: round step from the span") << 20.9 << 30.1 << 0.0 << 5.0 << 50 << 2.0;
    QTest::newRow("zoomed in far") << 24.2 << 25.8 << 0.0 << 5.0 << 50 << 0.2;
    QTest::newRow("zoomed out far: whole multiples") << 0.0 << 5e9 << 0.0 << 5.0 << 50 << -1.0;
    QTest::newRow("short axis: room for six") << 0.0 << 50.0 << 0.0 << 5.0 << 6 << 10.0;
    QTest::newRow("short axis: room for three") << 0.0 << 50.0 << 0.0 << 5.0 << 3 << 20.0;
  }
  void axisTickStep() {
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(double, origin);
    QFETCH(double, increment);
    QFETCH(int, maxTicks);
    QFETCH(double, step);
    const double got = AxisTickStep(lower, upper, origin, increment, 4, maxTicks);
    if (step > 0)
      QVERIFY2(std::abs(got - step) < 1e-12 * step, qPrintable(QString::number(got)));
    else
      QCOMPARE(std::fmod(got, increment), 0.0);
    const int n = TicksInRange(lower, upper, origin, got);
    QVERIFY2(n >= std::min(4, maxTicks) && n <= maxTicks, qPrintable(QString::number(n)));
  }
};

QTEST_GUILESS_MAIN(TestViewGeometry)
#include "tst_viewgeometry.moc"
