#include "views/DotMatrixDisplay.h"
#include "views/WinColor.h"

#include <QImage>
#include <QtTest>

#include <cmath>

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

bool columnLit(const DotMatrixDisplay &d, int column) {
  for (int r = 0; r < DotMatrixDisplay::kRows; ++r)
    if (d.isLit(column, r))
      return true;
  return false;
}

// Pixel columns of the image that hold a lit pixel.
QVector<bool> litPixelColumns(const QImage &img, const QColor &lit) {
  QVector<bool> out(img.width(), false);
  for (int x = 0; x < img.width(); ++x)
    for (int y = 0; y < img.height() && !out[x]; ++y)
      out[x] = img.pixelColor(x, y) == lit;
  return out;
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

  // Seven cells of six columns each; the text sits at the right end. A point is a narrow cell of
  // two columns: its own and a gap.
  void layout_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("lit");
    QTest::addColumn<int>("litColumn");
    QTest::addColumn<int>("litRow");
    QTest::newRow("minus lights the middle row of the last cell") << "-" << 42 << 5 << 36 << 3;
    QTest::newRow("point after a digit has its own column") << "1." << 42 << 11 << 40 << 6;
    QTest::newRow("lone point") << "." << 42 << 1 << 40 << 6;
    QTest::newRow("point takes two columns, not a cell") << "1234.56" << 42 << -1 << 28 << 6;
    QTest::newRow("colon lights two dots") << "1:2" << 42 << 26 << 34 << 2;
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

  // A decimal point (or colon) stands apart from its neighbours: an empty dot column on each
  // side, in the dot layout and on screen, at every size the display is drawn at.
  void pointStandsApart_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("size");
    const QList<QSize> sizes{{135, 30}, {135, 28}, {60, 14}, {100, 20}, {270, 60}, {500, 120}};
    for (const QString &text : {QStringLiteral("19.87"), QStringLiteral("  19.87"), QStringLiteral("-0.5"),
                               QStringLiteral("8.8.8"), QStringLiteral("123456789.012"), QStringLiteral("12:34")})
      for (const QSize &size : sizes) {
        DotMatrixDisplay probe;
        probe.setText(text);
        if (probe.gridColumns() > size.width() - 4)
          continue; // narrower than one pixel a dot: not a size the text can be drawn at
        QTest::addRow("\"%s\" %dx%d", qPrintable(text), size.width(), size.height()) << text << size;
      }
  }
  void pointStandsApart() {
    QFETCH(QString, text);
    QFETCH(QSize, size);
    DotMatrixDisplay d;
    d.resize(size);
    d.setText(text);
    const int marks = int(text.count(QLatin1Char('.')) + text.count(QLatin1Char(':')));
    const QImage img = d.grab().toImage();
    const QVector<bool> litX = litPixelColumns(img, d.litColor());
    const int pitch = int(d.dotRect(1, 0).x() - d.dotRect(0, 0).x());
    QVERIFY(pitch >= 1);
    int found = 0;
    for (int c = 0; c < d.gridColumns(); ++c) {
      if (!d.isMarkColumn(c) || !columnLit(d, c))
        continue;
      ++found;
      QVERIFY2(!columnLit(d, c - 1), "empty dot column before the point");
      QVERIFY2(!columnLit(d, c + 1), "empty dot column after the point");
      // On screen: at least one dot pitch of unlit pixels on both sides of the point's dots.
      const QRectF dot = d.dotRect(c, DotMatrixDisplay::kRows - 1);
      const int left = int(dot.left());
      const int right = int(std::ceil(dot.right())) - 1;
      QVERIFY(litX.value(left) && litX.value(right));
      for (int x = left - pitch; x < left; ++x)
        QVERIFY2(!litX.value(x), qPrintable(QStringLiteral("lit pixel at x=%1 left of the point").arg(x)));
      for (int x = right + 1; x <= right + pitch; ++x)
        QVERIFY2(!litX.value(x), qPrintable(QStringLiteral("lit pixel at x=%1 right of the point").arg(x)));
      // Every dot lies inside the widget.
      QVERIFY(QRectF(d.rect()).contains(dot));
    }
    QCOMPARE(found, marks);
  }

  void paintsLitCellsYellow() {
    DotMatrixDisplay d;
    d.resize(135, 30);
    d.setText(QStringLiteral("  -8.88"));
    const QImage img = d.grab().toImage();
    // Six cells and the point's two columns, right-aligned in 42 columns: "-" takes columns
    // 16..20; its middle row is lit, the top row is not.
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
