#include "store/CurveStore.h"

#include <QImage>
#include <QScopeGuard>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using P = CurveStore::Point;
using Points = std::vector<P>;

enum class Shape { Walk, Slow, Ellipse, Noise, Cloud, Far };

// Drift with a little noise (Slow: a block's points within a pixel or two), a lap retraced many times, noise over the view with gaps,
// readings jumping about a slowly moving centre, and points far outside the view among near
// ones.
Points makePoints(Shape shape, qint64 n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  Points p;
  double x = 50, y = 50;
  for (qint64 i = 0; i < n; ++i) {
    switch (shape) {
    case Shape::Walk:
      x += (u(rng) - 0.5) * 0.3;
      y += (u(rng) - 0.5) * 0.3;
      p.push_back({x, u(rng) < 0.001 ? kNaN : y});
      break;
    case Shape::Slow:
      x += (u(rng) - 0.5) * 0.002;
      y += (u(rng) - 0.5) * 0.002;
      p.push_back({x, y});
      break;
    case Shape::Ellipse: {
      const double a = double(i) * 2e-3;
      p.push_back({std::round(100 * (50 + 40 * std::sin(a))) / 100, std::round(100 * (50 + 30 * std::cos(a))) / 100});
      break;
    }
    case Shape::Noise:
      p.push_back({u(rng) * 120 - 10, u(rng) < 0.02 ? kNaN : u(rng) * 120 - 10});
      break;
    case Shape::Cloud: // readings jumping about a slowly moving centre, as a ripple on a drift
      x += 1e-5;
      p.push_back({x + std::round(200 * u(rng)) / 100 - 1, y + std::round(200 * u(rng)) / 100 - 1});
      break;
    case Shape::Far:
      if (u(rng) < 0.01)
        p.push_back({u(rng) < 0.5 ? 1e300 : -1e200, u(rng) * 100});
      else
        p.push_back({u(rng) * 100, u(rng) < 0.5 ? 1e250 * u(rng) : u(rng) * 100});
      break;
    }
  }
  return p;
}

bool same(const P &a, const P &b) {
  return a.x == b.x && (a.y == b.y || (std::isnan(a.y) && std::isnan(b.y)));
}

std::optional<P> bruteNearest(const Points &pts, double x) {
  std::optional<P> best;
  double d = 0;
  for (const P &p : pts) {
    if (!std::isfinite(p.y))
      continue;
    if (!best || std::abs(p.x - x) <= d) {
      best = p;
      d = std::abs(p.x - x);
    }
  }
  return best;
}

// Pixel cells as a chart of the view's size has them; beyond any pixel, no cell (-1 marks it).
struct Grid {
  CurveTracer::View v;
  [[nodiscard]] std::optional<std::pair<qint64, qint64>> cell(const P &p) const {
    const double px = std::floor((p.x - v.x0) * (v.width / (v.x1 - v.x0)));
    const double py = std::floor((p.y - v.y0) * (v.height / (v.y1 - v.y0)));
    if (!(std::abs(px) < 30000 && std::abs(py) < 30000))
      return std::nullopt;
    return std::pair{qint64(px), qint64(py)};
  }
  [[nodiscard]] bool inView(const std::pair<qint64, qint64> &c) const {
    return c.first >= 0 && c.first < v.width && c.second >= 0 && c.second < v.height;
  }
};

using Cell = std::pair<qint64, qint64>;
using Segment = std::pair<Cell, Cell>;
Segment unordered(Cell a, Cell b) { return a < b ? Segment{a, b} : Segment{b, a}; }

// The cell-to-cell steps of a polyline (NaN y breaks it), and the cells it visits.
void stepsOf(const Grid &g, const Points &line, std::multiset<Segment> &steps, std::set<Cell> &cells) {
  bool on = false;
  Cell at{};
  for (const P &p : line) {
    const auto c = std::isfinite(p.y) ? g.cell(p) : std::nullopt;
    if (!c) {
      on = false; // a break; far points are checked on their own
      continue;
    }
    cells.insert(*c);
    if (on && at != *c)
      steps.insert(unordered(at, *c));
    at = *c;
    on = true;
  }
}

QImage paint(const Grid &g, const Points &line) {
  QImage img(g.v.width, g.v.height, QImage::Format_Grayscale8);
  img.fill(0);
  QPainter painter(&img);
  painter.setPen(QPen(Qt::white, 1));
  const auto px = [&](const P &p) {
    return QPointF((p.x - g.v.x0) * g.v.width / (g.v.x1 - g.v.x0), (p.y - g.v.y0) * g.v.height / (g.v.y1 - g.v.y0));
  };
  for (size_t i = 1; i < line.size(); ++i)
    if (std::isfinite(line[i - 1].y) && std::isfinite(line[i].y))
      painter.drawLine(px(line[i - 1]), px(line[i]));
  return img;
}

// Lit pixels of `a` with no lit pixel of `b` within `reach`.
int unmatched(const QImage &a, const QImage &b, int reach) {
  int n = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      if (qGray(a.pixel(x, y)) == 0)
        continue;
      bool near = false;
      for (int dy = -reach; dy <= reach && !near; ++dy)
        for (int dx = -reach; dx <= reach && !near; ++dx) {
          const int xx = x + dx, yy = y + dy;
          near = xx >= 0 && yy >= 0 && xx < b.width() && yy < b.height() && qGray(b.pixel(xx, yy)) != 0;
        }
      n += near ? 0 : 1;
    }
  return n;
}

int lit(const QImage &img) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      n += qGray(img.pixel(x, y)) != 0 ? 1 : 0;
  return n;
}

} // namespace

Q_DECLARE_METATYPE(CurveTracer::View)

class TestCurveStore : public QObject {
  Q_OBJECT

private slots:
  void keepsEveryPointExactly_data() {
    QTest::addColumn<int>("shape");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<bool>("spillable"); // the temporary folder exists
    QTest::addColumn<qint64>("fileRoom"); // bytes a file may grow to (a full disk); 0: no limit
    const qint64 resident = CurveStore::kResidentBlocks * CurveStore::kBlock;
    const qint64 run = CurveStore::kSpillRun * CurveStore::kBlock * qint64(sizeof(P));
    QTest::newRow("a few") << int(Shape::Walk) << qint64(100) << true << qint64(0);
    QTest::newRow("all resident") << int(Shape::Noise) << resident << true << qint64(0);
    QTest::newRow("one spill run short") << int(Shape::Noise) << resident + 15 * CurveStore::kBlock + 7 << true
                                         << qint64(0);
    QTest::newRow("spilled, partial tail") << int(Shape::Ellipse) << resident * 3 + 1234 << true << qint64(0);
    QTest::newRow("no folder to spill into") << int(Shape::Walk) << resident * 2 + 99 << false << qint64(0);
    // Two runs fit, the third is written short.
    QTest::newRow("the disk fills up") << int(Shape::Noise) << resident * 3 + 500 << true << run * 5 / 2;
  }
  void keepsEveryPointExactly() {
    QFETCH(int, shape);
    QFETCH(qint64, count);
    QFETCH(bool, spillable);
    QFETCH(qint64, fileRoom);
    QTemporaryDir dir;
    const QString spill = spillable ? dir.path() : dir.filePath(QStringLiteral("missing"));
    const Points pts = makePoints(Shape(shape), count, 7);
    // A file size limit makes writes past it come up short, as on a full disk.
    rlimit keepLimit{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &keepLimit) == 0);
    const auto keepSignal = std::signal(SIGXFSZ, SIG_IGN);
    auto restore = qScopeGuard([&] {
      ::setrlimit(RLIMIT_FSIZE, &keepLimit);
      std::signal(SIGXFSZ, keepSignal);
    });
    if (fileRoom > 0) {
      rlimit room = keepLimit;
      room.rlim_cur = static_cast<rlim_t>(fileRoom);
      QVERIFY(::setrlimit(RLIMIT_FSIZE, &room) == 0);
    }
    CurveStore s(spill);
    for (const P &p : pts)
      s.append(p.x, p.y);
    s.append(std::numeric_limits<double>::infinity(), 1); // refused: no place on the axis
    // Read while blocks may still be on their way to the file.
    for (qint64 i = count - 1; i >= 0; i -= 97)
      QVERIFY2(same(s.at(i), pts[size_t(i)]), qPrintable(QString::number(i)));
    s.settle();
    restore.dismiss();
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &keepLimit) == 0);
    std::signal(SIGXFSZ, keepSignal);
    QCOMPARE(s.count(), count);
    const bool beyond = count >= (CurveStore::kResidentBlocks + CurveStore::kSpillRun) * CurveStore::kBlock;
    QCOMPARE(s.spilling(), beyond && spillable);
    QCOMPARE(s.spilledBytes() > 0, beyond && spillable);
    if (fileRoom > 0)
      QCOMPARE(s.spilledBytes(), fileRoom / (CurveStore::kSpillRun * CurveStore::kBlock * qint64(sizeof(P))) *
                                     CurveStore::kSpillRun * CurveStore::kBlock * qint64(sizeof(P)));
    // Read back in order and at random: every point bit for bit.
    for (qint64 i = 0; i < count; ++i)
      QVERIFY2(same(s.at(i), pts[size_t(i)]), qPrintable(QString::number(i)));
    std::mt19937 rng(3);
    for (int k = 0; k < 2000; ++k) {
      const qint64 i = std::uniform_int_distribution<qint64>(0, count - 1)(rng);
      QVERIFY(same(s.at(i), pts[size_t(i)]));
    }
    QVERIFY(std::isnan(s.at(count).x));
    // The boxes hold what their points hold.
    for (qint64 b = 0; b < s.blockCount(); ++b) {
      const CurveStore::Box &bx = s.box(b);
      const qint64 from = b * CurveStore::kBlock;
      const qint64 to = std::min(count, from + CurveStore::kBlock);
      QCOMPARE(qint64(bx.count), to - from);
      QVERIFY(same(bx.first, pts[size_t(from)]) && same(bx.last, pts[size_t(to - 1)]));
      int finite = 0;
      for (qint64 i = from; i < to; ++i) {
        const P &p = pts[size_t(i)];
        if (!std::isfinite(p.y))
          continue;
        ++finite;
        QVERIFY(p.x >= bx.minX && p.x <= bx.maxX && p.y >= bx.minY && p.y <= bx.maxY);
      }
      QCOMPARE(bx.finite, finite);
    }
    // The summaries of a spilled store are all it holds of the spilled points.
    if (beyond && spillable && fileRoom == 0)
      QVERIFY(s.memoryBytes() < (CurveStore::kResidentBlocks + 2 * CurveStore::kSpillRun) * CurveStore::kBlock * 16 +
                                    CurveStore::kCachedBlocks * CurveStore::kBlock * 20 + s.blockCount() * 100);
    // Nearest x, latest of equally near ones (the ellipse's rounded x repeat often).
    for (int k = 0; k < 40; ++k) {
      const double x = std::uniform_real_distribution<double>(-20, 130)(rng);
      const auto want = bruteNearest(pts, x);
      const auto got = s.nearestX(x);
      QCOMPARE(bool(got), bool(want));
      if (want)
        QVERIFY2(same(*got, *want), qPrintable(QStringLiteral("x %1").arg(x)));
    }
    const quint64 id = s.id();
    s.clear();
    QVERIFY(s.id() != id);
    QCOMPARE(s.count(), qint64(0));
    QVERIFY(!s.nearestX(50));
    s.append(1, 2);
    QVERIFY(same(s.at(0), P{1, 2}));
  }

  void nearestSkipsGaps() {
    CurveStore s;
    QVERIFY(!s.nearestX(0));
    s.append(5, kNaN);
    QVERIFY(!s.nearestX(5));
    s.append(9, 1);
    s.append(1, 2);
    QCOMPARE(s.nearestX(5)->y, 2.0); // equally near: the later point
    QVERIFY(!s.nearestX(kNaN));
  }

  // The drawn line against the points: every step from one pixel cell to another that shows
  // is drawn, once, and nothing else; every vertex is a stored point; every cell the points
  // visit has a vertex (for the markers); fed in pieces it draws the same; and the picture
  // matches a drawing of every point to within a pixel.
  void tracedLineMatchesThePoints_data() {
    QTest::addColumn<int>("shape");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<CurveTracer::View>("view");
    const CurveTracer::View whole{-10, 110, -10, 110, 400, 300};
    QTest::newRow("drift, whole view") << int(Shape::Walk) << qint64(300'000) << whole;
    QTest::newRow("drift, zoomed in") << int(Shape::Walk) << qint64(300'000) << CurveTracer::View{45, 55, 45, 52, 500, 350};
    QTest::newRow("slow drift across the edges") << int(Shape::Slow) << qint64(300'000)
                                                 << CurveTracer::View{50, 50.2, 49.9, 50.05, 300, 200};
    QTest::newRow("retraced lap") << int(Shape::Ellipse) << qint64(400'000) << whole;
    QTest::newRow("retraced lap, zoomed") << int(Shape::Ellipse) << qint64(400'000) << CurveTracer::View{80, 95, 40, 60, 300, 300};
    QTest::newRow("noise with gaps") << int(Shape::Noise) << qint64(20'000) << CurveTracer::View{0, 100, 0, 100, 120, 90};
    QTest::newRow("cloud filling its patch") << int(Shape::Cloud) << qint64(300'000) << whole;
    QTest::newRow("far points") << int(Shape::Far) << qint64(20'000) << CurveTracer::View{0, 100, 0, 100, 200, 150};
  }
  void tracedLineMatchesThePoints() {
    QFETCH(int, shape);
    QFETCH(qint64, count);
    QFETCH(CurveTracer::View, view);
    QTemporaryDir dir;
    const Points pts = makePoints(Shape(shape), count, 11);
    CurveStore s(dir.path());
    // Fed in uneven pieces, updated between them.
    CurveTracer pieces;
    Points piecewise, added;
    std::mt19937 rng(5);
    bool first = true;
    for (qint64 i = 0; i < count;) {
      const qint64 n = std::uniform_int_distribution<qint64>(1, 3000)(rng);
      for (qint64 k = i; k < std::min(count, i + n); ++k)
        s.append(pts[size_t(k)].x, pts[size_t(k)].y);
      i += n;
      QCOMPARE(pieces.update(s, view, added), first); // drawn anew once, then extended
      first = false;
      piecewise.insert(piecewise.end(), added.begin(), added.end());
    }
    CurveTracer once;
    Points line;
    QVERIFY(once.update(s, view, line));
    QVERIFY(!once.update(s, view, added)); // nothing new
    QVERIFY(added.empty());

    const Grid g{view};
    std::multiset<Segment> raw;
    std::set<Cell> rawCells;
    stepsOf(g, pts, raw, rawCells);
    std::set<std::pair<double, double>> stored;
    for (const P &p : pts)
      if (std::isfinite(p.y))
        stored.insert({p.x, p.y});
    const auto shows = [&](const Segment &sg) { return g.inView(sg.first) || g.inView(sg.second); };
    // Drawn at once or piece by piece: a vertex in every cell the points visit in view (the
    // markers), vertices that are stored points, never more segments than pixels, and a picture
    // that matches a drawing of every point to within a pixel, both ways.
    const QImage full = Shape(shape) == Shape::Far ? QImage() : paint(g, pts);
    for (const Points *drawing : {&line, &piecewise}) {
      std::multiset<Segment> drawn;
      std::set<Cell> drawnCells;
      stepsOf(g, *drawing, drawn, drawnCells);
      for (const Cell &c : rawCells)
        if (g.inView(c))
          QVERIFY2(drawnCells.count(c) == 1, qPrintable(QStringLiteral("no vertex in (%1,%2)").arg(c.first).arg(c.second)));
      for (const P &p : *drawing)
        if (std::isfinite(p.y))
          QVERIFY(stored.count({p.x, p.y}) == 1);
      qint64 shown = 0;
      for (const Segment &sg : drawn)
        shown += shows(sg) ? 1 : 0;
      QVERIFY2(shown <= qint64(view.width) * view.height, qPrintable(QString::number(shown)));
      // Segments that show in the points are in the drawing too, unless painted over by others.
      if (!full.isNull()) {
        // Vertices move within their cell and the skipped segments are judged on whole cells,
        // so a rare pixel is two away; none is further.
        const QImage thin = paint(g, *drawing);
        QCOMPARE(unmatched(full, thin, 2), 0);
        QCOMPARE(unmatched(thin, full, 2), 0);
        QVERIFY(unmatched(full, thin, 1) * 1000 <= lit(full));
        QVERIFY(unmatched(thin, full, 1) * 1000 <= lit(thin));
      }
    }
    // Far points are never merged away: each one beside a point in view is a vertex.
    if (Shape(shape) == Shape::Far) {
      std::set<std::pair<double, double>> vertices;
      for (const P &p : line)
        vertices.insert({p.x, p.y});
      for (size_t i = 1; i + 1 < pts.size(); ++i)
        if (!g.cell(pts[i]) && g.cell(pts[i - 1]) && g.inView(*g.cell(pts[i - 1])))
          QVERIFY(vertices.count({pts[i].x, pts[i].y}) == 1);
    }
    // What it costs: a lap run over again adds no vertex, a zoomed view passes over the blocks
    // outside it without reading them, and so does a cloud over the patch it has filled.
    if (Shape(shape) == Shape::Ellipse)
      QVERIFY2(line.size() < 20'000, qPrintable(QString::number(line.size())));
    if (view.x1 - view.x0 < 50 || Shape(shape) == Shape::Cloud)
      QVERIFY2(once.walkedPoints() < count / 2, qPrintable(QString::number(once.walkedPoints())));
  }

  // Readings at the axis limits lie on the edge of the view: the line along them is drawn.
  void lineOnTheEdgeIsDrawn() {
    const CurveTracer::View v{0, 100, 0, 50, 400, 200};
    CurveStore s;
    for (int i = 0; i <= 100; ++i)
      s.append(i, 50); // along the top
    for (int i = 0; i <= 50; ++i)
      s.append(100, 50 - i); // down the right edge
    CurveTracer t;
    Points line;
    QVERIFY(t.update(s, v, line));
    double topFrom = 1e9, topTo = -1e9;
    int joined = 0;
    for (size_t k = 0; k < line.size(); ++k) {
      if (line[k].y != 50)
        continue;
      topFrom = std::min(topFrom, line[k].x);
      topTo = std::max(topTo, line[k].x);
      if (k > 0 && line[k - 1].y == 50)
        ++joined;
    }
    QVERIFY2(topTo - topFrom >= 99 && joined > 0, qPrintable(QStringLiteral("%1..%2, %3").arg(topFrom).arg(topTo).arg(joined)));
    QVERIFY(std::any_of(line.begin(), line.end(), [](const P &p) { return p.x == 100 && p.y == 0; }));
  }

  void newViewOrStoreDrawsAnew() {
    CurveStore a, b;
    for (int i = 0; i < 1000; ++i) {
      a.append(i * 0.1, std::sin(i * 0.01));
      b.append(i * 0.1, std::cos(i * 0.01));
    }
    CurveTracer t;
    Points out;
    const CurveTracer::View v{0, 100, -1, 1, 300, 200};
    QVERIFY(t.update(a, v, out));
    QVERIFY(!out.empty());
    QVERIFY(!t.update(a, v, out));
    QVERIFY(out.empty());
    a.append(100, 0.5);
    QVERIFY(!t.update(a, v, out)); // grown: extended
    QCOMPARE(out.size(), size_t(1));
    QVERIFY(t.update(b, v, out)); // another store
    CurveTracer::View w = v;
    w.width = 301;
    QVERIFY(t.update(b, w, out)); // resized
    b.clear();
    b.append(1, 0);
    QVERIFY(t.update(b, w, out)); // cleared and refilled
    QCOMPARE(out.size(), size_t(1));
  }
};

QTEST_MAIN(TestCurveStore)
#include "tst_curvestore.moc"
