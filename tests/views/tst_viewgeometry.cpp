#include "views/ViewGeometry.h"

#include <QtTest>

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
};

QTEST_GUILESS_MAIN(TestViewGeometry)
#include "tst_viewgeometry.moc"
