#include "views/ChartPlottables.h"
#include "views/LineRaster.h"
#include "views/StrokeLines.h"
#include "ImageStrays.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using Polyline = QVector<QPointF>;
} // namespace
Q_DECLARE_METATYPE(std::vector<QLineF>)
namespace {

// Pixel columns as a time trace draws them: per column its first, lowest, highest and last y,
// at the column's middle (x + 0.5), one pixel apart.
Polyline columns(int count, const std::function<double(int, int)> &y, int step = 1) {
  Polyline p;
  for (int c = 0; c < count; c += step) {
    const double x = 10 + c + 0.5;
    const double a = y(c, 0), b = y(c, 1), d = y(c, 2), e = y(c, 3);
    for (double v : {a, std::min({a, b, d, e}), std::max({a, b, d, e}), e})
      p.append(QPointF(x, v));
  }
  return p;
}

double noise(int c, int k) {
  quint32 s = quint32(c * 4 + k) * 2654435761u;
  s ^= s >> 13;
  return double(s % 4000) / 100.0; // 0 .. 40 px
}

QImage painted(const std::vector<QLineF> &lines, bool antialiased) {
  QImage img(400, 200, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::black);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, antialiased);
  if (antialiased)
    p.translate(0.5, 0.5); // as the chart's painter does
  p.setPen(QPen(Qt::white, 0));
  p.drawLines(lines.data(), int(lines.size()));
  return img;
}

// The library's way: every segment between two finite points on its own.
std::vector<QLineF> segments(const Polyline &p) {
  std::vector<QLineF> out;
  for (qsizetype i = 1; i < p.size(); ++i)
    if (std::isfinite(p[i - 1].x() + p[i - 1].y() + p[i].x() + p[i].y()))
      out.emplace_back(p[i - 1], p[i]);
  return out;
}

int strays(const QImage &a, const QImage &b) {
  return ImageStrays(a, b, [](QRgb c) { return qGray(c) > 100; });
}
} // namespace

class TestStrokeLines : public QObject {
  Q_OBJECT

private slots:
  void looksLikeEverySegmentDrawn_data() {
    QTest::addColumn<Polyline>("points");
    QTest::addColumn<bool>("columns");
    QTest::addColumn<int>("maxLines"); // -1: no bound
    const auto band = [](int c, int k) { return 80 + noise(c, k); };
    QTest::newRow("noisy columns: one line each") << columns(300, band) << true << 300;
    QTest::newRow("flat columns") << columns(300, [](int, int) { return 100.3; }) << true << -1;
    QTest::newRow("steep ramp") << columns(300, [](int c, int k) { return 10 + c * 0.6 + k * 0.1; }) << true << -1;
    QTest::newRow("gentle ramp") << columns(300, [](int c, int) { return 50 + c * 0.05; }) << true << -1;
    QTest::newRow("every third column") << columns(300, band, 3) << true << -1;
    Polyline gaps = columns(300, band);
    for (qsizetype i = 37; i < gaps.size(); i += 41)
      gaps[i].setY(kNaN);
    QTest::newRow("columns with gaps") << gaps << true << -1;
    Polyline edges = columns(300, band);
    edges.prepend(QPointF(3.2, 150));
    edges.append(QPointF(395.7, 20));
    QTest::newRow("edge samples off the columns") << edges << true << -1;
    QTest::newRow("lone points between gaps")
        << Polyline{{20.5, 50}, {kNaN, kNaN}, {21.5, 60}, {21.5, 90}, {kNaN, kNaN}, {22.5, 70}} << true << -1;
    Polyline raw;
    for (int i = 0; i < 500; ++i)
      raw.append(QPointF(10 + i * 0.73, 100 + 60 * std::sin(i * 0.05) + noise(i, 0) / 4));
    raw[200].setY(kNaN);
    QTest::newRow("raw polyline") << raw << false << 497;
  }
  void looksLikeEverySegmentDrawn() {
    QFETCH(Polyline, points);
    QFETCH(bool, columns);
    QFETCH(int, maxLines);
    std::vector<QLineF> lines;
    AppendStrokeLines(points.constData(), points.size(), columns, lines, 0.5);
    if (maxLines >= 0)
      QVERIFY2(int(lines.size()) <= maxLines, qPrintable(QString::number(lines.size())));
    for (bool aa : {true, false}) {
      std::vector<QLineF> mine = lines;
      if (!aa) {
        mine.clear();
        AppendStrokeLines(points.constData(), points.size(), columns, mine, 0.0);
      }
      const QImage ours = painted(mine, aa);
      const QImage theirs = painted(segments(points), aa);
      QCOMPARE(strays(ours, theirs), 0);
      QCOMPARE(strays(theirs, ours), 0);
    }
  }

  void columnsFillTheirOwnPixel_data() {
    QTest::addColumn<double>("deviceDx");
    QTest::addColumn<bool>("antialiased");
    QTest::newRow("antialiased, half-pixel shift") << 0.5 << true;
    QTest::newRow("aliased, no shift") << 0.0 << false;
  }
  void columnsFillTheirOwnPixel() {
    // Each column one pixel, fully covered: not half of two, and none left empty.
    QFETCH(double, deviceDx);
    QFETCH(bool, antialiased);
    const Polyline points = columns(300, [](int c, int k) { return 60 + 10 * k + (c % 3); });
    std::vector<QLineF> lines;
    AppendStrokeLines(points.constData(), points.size(), true, lines, deviceDx);
    const QImage img = painted(lines, antialiased);
    for (int c = 0; c < 300; ++c)
      QVERIFY2(qGray(img.pixel(10 + c, 75)) > 250, qPrintable(QStringLiteral("column %1").arg(c)));
    QCOMPARE(qGray(img.pixel(9, 75)), 0);
    QCOMPARE(qGray(img.pixel(310, 75)), 0);
  }

  void rasterMatchesThePainter_data() {
    QTest::addColumn<std::vector<QLineF>>("lines");
    QTest::addColumn<QRect>("clip");
    const QRect some(13, 7, 301, 170); // edges off the tile grid
    std::vector<QLineF> columnsOfSpans;
    for (int c = 0; c < 380; ++c)
      columnsOfSpans.emplace_back(c + 0.5, 20 + noise(c, 0) + 0.3, c + 0.5, 90 + noise(c, 1) + 0.7);
    QTest::newRow("vertical spans") << columnsOfSpans << QRect(0, 0, 400, 200);
    QTest::newRow("vertical spans, clipped") << columnsOfSpans << some;
    std::vector<QLineF> band;
    quint32 seed = 5;
    QPointF at(200, 100);
    for (int i = 0; i < 20000; ++i) {
      seed = seed * 1664525u + 1013904223u;
      const QPointF next(std::clamp(at.x() + double(int(seed >> 24) % 9 - 4), 5.0, 395.0),
                         std::clamp(at.y() + double(int(seed >> 16 & 0xff) % 9 - 4), 5.0, 195.0));
      band.emplace_back(at, next);
      at = next;
    }
    QTest::newRow("a dense walk") << band << QRect(0, 0, 400, 200);
    QTest::newRow("a dense walk, clipped") << band << some;
    const std::vector<QLineF> far{{-1e7, 50.5, 1e7, 150.5}, {200.5, -1e6, 210.5, 1e6}, {-50, -50, -10, -10},
                                  {450, 10, 500, 190}, {390.5, 100.5, 1e9, 100.5}, {0.5, 0.5, 399.5, 199.5}};
    QTest::newRow("lines from far outside") << far << QRect(0, 0, 400, 200);
    QTest::newRow("lines from far outside, clipped") << far << some;
  }
  void rasterMatchesThePainter() {
    QFETCH(std::vector<QLineF>, lines);
    QFETCH(QRect, clip);
    // Through strips drawn by QPainter, and straight into the image painted on.
    for (bool direct : {false, true}) {
    const auto draw = [&](bool raster) {
      QImage img(400, 200, QImage::Format_ARGB32_Premultiplied);
      img.fill(Qt::black);
      QPainter p(&img);
      p.setClipRect(clip);
      p.setPen(QPen(Qt::white, 0));
      if (raster) {
        QImage *target = direct ? LineRaster::directTarget(p) : nullptr;
        if (direct && target != &img)
          return QImage();
        LineRaster r(LineRaster::deviceClip(p), Qt::white, target);
        for (const QLineF &l : lines)
          r.add(l);
        r.paint(p);
      } else {
        p.drawLines(lines.data(), int(lines.size()));
      }
      return img;
    };
    const QImage ours = draw(true);
    QVERIFY2(!ours.isNull(), "the painter's image is not a direct target");
    const QImage theirs = draw(false);
    QCOMPARE(strays(ours, theirs), 0);
    QCOMPARE(strays(theirs, ours), 0);
    // Nothing outside the clip.
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 400; ++x)
        if (!clip.contains(x, y))
          QCOMPARE(qGray(ours.pixel(x, y)), 0);
    }
  }

  void curveDrawsEverySegment_data() {
    QTest::addColumn<Polyline>("vertices"); // in axis coordinates, both axes 0..100
    QTest::addColumn<bool>("reversed");
    Polyline walk;
    quint32 seed = 11;
    QPointF at(50, 50);
    for (int i = 0; i < 6000; ++i) {
      seed = seed * 1664525u + 1013904223u;
      at = QPointF(std::clamp(at.x() + double(int(seed >> 24) % 5 - 2) * 0.3, 1.0, 99.0),
                   std::clamp(at.y() + double(int(seed >> 16 & 0xff) % 5 - 2) * 0.4, 1.0, 99.0));
      walk.append(at);
    }
    QTest::newRow("a dense walk") << walk << false;
    QTest::newRow("a dense walk, axes reversed") << walk << true;
    // Three strokes apart: a line across a gap would be far from anything drawn.
    Polyline gaps;
    for (int i = 0; i < 6000; ++i) {
      const int stroke = i / 2000;
      const double along = 5 + (i % 2000) * 0.02;
      gaps.append(i % 2000 == 1999 ? QPointF(kNaN, kNaN) : QPointF(along + stroke * 5, 15 + stroke * 30 + (i % 7) * 0.1));
    }
    QTest::newRow("gaps") << gaps << false;
    Polyline far = walk;
    for (qsizetype i = 100; i < far.size(); i += 700)
      far[i] = QPointF(i % 1400 ? 1e6 : -3e5, i % 2100 ? -2e6 : 40);
    QTest::newRow("vertices far outside the view") << far << false;
    QTest::newRow("few vertices (the library's lines)") << walk.mid(0, 300) << false;
  }
  void curveDrawsEverySegment() {
    // The chart's curve against QPainter's antialiased lines between every two finite
    // neighbours, mapped by the axes.
    QFETCH(Polyline, vertices);
    QFETCH(bool, reversed);
    ChartPlot plot;
    plot.resize(420, 300);
    plot.setBackground(Qt::black);
    auto *curve = new ChartCurve(plot.xAxis, plot.yAxis);
    curve->setPen(QPen(Qt::red, 1));
    QVector<double> t, x, y;
    for (qsizetype i = 0; i < vertices.size(); ++i) {
      t.append(double(i));
      x.append(vertices[i].x());
      y.append(vertices[i].y());
    }
    curve->setData(t, x, y, true);
    for (QCPAxis *a : {plot.xAxis, plot.yAxis}) {
      a->setRange(0, 100);
      a->setRangeReversed(reversed);
    }
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    plot.replot(QCustomPlot::rpImmediateRefresh);
    const QImage ours = plot.grab().toImage();
    curve->setVisible(false);
    plot.replot(QCustomPlot::rpImmediateRefresh);
    QImage theirs = plot.grab().toImage();
    {
      QPainter p(&theirs);
      p.setClipRect(plot.axisRect()->rect());
      p.setRenderHint(QPainter::Antialiasing);
      p.translate(0.5, 0.5);
      p.setPen(QPen(Qt::red, 0));
      const auto pixel = [&](QPointF v) { return QPointF(plot.xAxis->coordToPixel(v.x()), plot.yAxis->coordToPixel(v.y())); };
      std::vector<QLineF> lines;
      for (const QLineF &l : segments(vertices))
        lines.emplace_back(pixel(l.p1()), pixel(l.p2()));
      p.drawLines(lines.data(), int(lines.size()));
    }
    const auto red = [](QRgb c) { return qRed(c) > 100 && qGreen(c) < 60 && qBlue(c) < 60; };
    QCOMPARE(ImageStrays(ours, theirs, red), 0);
    QCOMPARE(ImageStrays(theirs, ours, red), 0);
    QVERIFY(ImageStrays(ours, QImage(), red) > 100); // drawn at all
  }

  void rasterBlendsATranslucentColour() {
    // Half-transparent red over blue: what source-over gives, whether a pixel is hit once or
    // by a span's partly covered end.
    QImage img(64, 64, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::blue);
    QPainter p(&img);
    LineRaster r(QRect(0, 0, 64, 64), QColor(255, 0, 0, 128));
    r.add(QLineF(10.5, 5.0, 10.5, 20.5)); // rows 5..19 whole, row 20 half
    r.paint(p);
    p.end();
    const QColor whole = img.pixelColor(10, 12);
    QVERIFY(std::abs(whole.red() - 128) <= 2 && std::abs(whole.blue() - 127) <= 2);
    const QColor half = img.pixelColor(10, 20);
    QVERIFY(std::abs(half.red() - 64) <= 2 && std::abs(half.blue() - 191) <= 2);
    QCOMPARE(img.pixelColor(10, 21), QColor(Qt::blue));
    QCOMPARE(img.pixelColor(11, 12), QColor(Qt::blue));
  }
};

QTEST_MAIN(TestStrokeLines)
#include "tst_strokelines.moc"
