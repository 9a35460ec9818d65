#include "views/DotMatrixDisplay.h"
#include "views/WinColor.h"

#include <QImage>
#include <QtTest>

namespace {
int litCount(const DotMatrixDisplay &d) {
  int n = 0;
  for (int c = 0; c < d.gridColumns(); ++c)
    for (int r = 0; r < DotMatrixDisplay::kRows; ++r)
      n += d.isLit(c, r) ? 1 : 0;
  return n;
}

QColor colorAtCentre(const QImage &img, const QRectF &dot) {
  return img.pixelColor(dot.center().toPoint());
}
} // namespace

class TestDotMatrixDisplay : public QObject {
  Q_OBJECT

private slots:
  void textRoundTrip_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("padded value") << QStringLiteral("  12.34");
    QTest::newRow("negative") << QStringLiteral("-0.5");
    QTest::newRow("letters") << QStringLiteral("ABC xyz");
    QTest::newRow("unknown characters") << QStringLiteral("空值");
    QTest::newRow("longer than the display") << QStringLiteral("123456789.012");
  }
  void textRoundTrip() {
    QFETCH(QString, text);
    DotMatrixDisplay d;
    d.setText(text);
    QCOMPARE(d.text(), text);
  }

  // Seven cells of six columns each; the text sits at the right end.
  void layout_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("lit");
    QTest::addColumn<int>("litColumn");
    QTest::addColumn<int>("litRow");
    QTest::newRow("minus lights the middle row of the last cell") << "-" << 42 << 5 << 36 << 3;
    QTest::newRow("point after a digit uses the gap column") << "1." << 42 << 11 << 41 << 6;
    QTest::newRow("lone point gets a blank cell") << "." << 42 << 1 << 41 << 6;
    QTest::newRow("point does not take a cell") << "1234.56" << 42 << -1 << 29 << 6;
    QTest::newRow("unknown character is blank") << QStringLiteral("中") << 42 << 0 << -1 << -1;
    QTest::newRow("blank") << " " << 42 << 0 << -1 << -1;
    QTest::newRow("long text widens the grid") << "12345678" << 48 << -1 << -1 << -1;
    QTest::newRow("capital letter") << "A" << 42 << 18 << 36 << 1;
    QTest::newRow("small letter") << "k" << 42 << 12 << 36 << 0;
  }
  void layout() {
    QFETCH(QString, text);
    QFETCH(int, columns);
    QFETCH(int, lit);
    QFETCH(int, litColumn);
    QFETCH(int, litRow);
    DotMatrixDisplay d;
    d.setText(text);
    QCOMPARE(d.gridColumns(), columns);
    if (lit >= 0)
      QCOMPARE(litCount(d), lit);
    if (litColumn >= 0)
      QVERIFY(d.isLit(litColumn, litRow));
  }

  void paintsLitCellsYellow() {
    DotMatrixDisplay d;
    d.resize(135, 30);
    d.setText(QStringLiteral("  -8.88"));
    const QImage img = d.grab().toImage();
    // Six cells (the point shares the first 8's cell), right-aligned in seven: "-" is in cell 3
    // (columns 18..22); its middle row is lit, the top row is not.
    QCOMPARE(colorAtCentre(img, d.dotRect(18, 3)), QColor(Qt::yellow));
    QCOMPARE(colorAtCentre(img, d.dotRect(18, 0)), QColor(0, 128, 255));
    // Between the dots: the background, colour value 8404992.
    const QRectF a = d.dotRect(0, 0);
    QCOMPARE(img.pixelColor(int(a.right()), int(a.bottom())), QColor(0, 64, 128));
    QCOMPARE(img.pixelColor(0, 0), QColor(0, 64, 128));
    // Every dot lies inside the widget at the design size.
    QVERIFY(QRectF(d.rect()).contains(d.dotRect(0, 0)));
    QVERIFY(QRectF(d.rect()).contains(d.dotRect(d.gridColumns() - 1, DotMatrixDisplay::kRows - 1)));

    d.setText(QString());
    const QImage blank = d.grab().toImage();
    for (int y = 0; y < blank.height(); ++y)
      for (int x = 0; x < blank.width(); ++x)
        QVERIFY2(blank.pixelColor(x, y) != QColor(Qt::yellow), "an empty display has no lit dot");
  }
};

QTEST_MAIN(TestDotMatrixDisplay)
#include "tst_dotmatrixdisplay.moc"
