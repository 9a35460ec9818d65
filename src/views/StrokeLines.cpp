#include "views/StrokeLines.h"

#include <algorithm>
#include <cmath>

namespace {

bool finite(const QPointF &p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

// Points of one pixel column within an unbroken stretch of the line.
struct Column {
  double x;
  double lo;
  double hi;
  double entry; // y where the line comes in
  double exit;  // y where it leaves
  int points;
  bool vertical = false;
};

// Pixel x positions of one column's points are the same to rounding.
constexpr double kSameColumn = 1e-6;
constexpr double kAdjacentSlack = 1e-3;

void strokeColumns(std::vector<Column> &cols, std::vector<QLineF> &out, double deviceDx) {
  const size_t n = cols.size();
  std::vector<char> merged(n > 0 ? n - 1 : 0, 0);
  for (size_t k = 0; k + 1 < n; ++k) {
    Column &a = cols[k];
    Column &b = cols[k + 1];
    if (std::abs(b.x - a.x - 1.0) > kAdjacentSlack)
      continue;
    // The join's half in each column: from the column's end to the middle of the two.
    const double mid = (a.exit + b.entry) / 2;
    a.lo = std::min(a.lo, mid);
    a.hi = std::max(a.hi, mid);
    b.lo = std::min(b.lo, mid);
    b.hi = std::max(b.hi, mid);
    merged[k] = 1;
  }
  // Adjacent columns were found by their own x; drawn, they sit on device pixel middles. A
  // column's x is a pixel middle before the painter's half-pixel antialiasing shift, so its
  // pixel is taken before that shift: after it, x lies on a pixel edge and rounding would put
  // some neighbours on one pixel and leave the next one empty.
  const double whole = std::floor(deviceDx);
  for (Column &c : cols)
    c.x = std::floor(c.x) + whole + 0.5 - deviceDx;
  for (Column &c : cols) {
    // A run under a pixel would be a dot or nothing; its joins draw it instead.
    c.vertical = c.hi - c.lo >= 1.0;
    if (c.vertical)
      out.emplace_back(c.x, c.lo, c.x, c.hi);
  }
  for (size_t k = 0; k + 1 < n; ++k) {
    const Column &a = cols[k];
    const Column &b = cols[k + 1];
    if (!merged[k] || !a.vertical || !b.vertical)
      out.emplace_back(a.x, a.exit, b.x, b.entry);
  }
  // A column of several points joined to nothing (between two gaps) keeps its own segment.
  for (size_t k = 0; k < n; ++k) {
    const Column &c = cols[k];
    const bool joined = (k > 0) || (k + 1 < n);
    if (!c.vertical && !joined && c.points > 1)
      out.emplace_back(c.x, c.lo, c.x, c.hi);
  }
  cols.clear();
}

} // namespace

void AppendStrokeLines(const QPointF *points, qsizetype count, bool columns, std::vector<QLineF> &out,
                       double deviceDx) {
  if (!columns) {
    for (qsizetype i = 1; i < count; ++i)
      if (finite(points[i - 1]) && finite(points[i]))
        out.emplace_back(points[i - 1], points[i]);
    return;
  }
  // Kept between calls: a replot strokes thousands of columns, and a fresh vector each time
  // regrew and faulted in its pages anew.
  static thread_local std::vector<Column> run;
  run.clear();
  for (qsizetype i = 0; i < count; ++i) {
    const QPointF &p = points[i];
    if (!finite(p)) {
      strokeColumns(run, out, deviceDx);
      continue;
    }
    if (!run.empty() && std::abs(run.back().x - p.x()) < kSameColumn) {
      Column &c = run.back();
      c.lo = std::min(c.lo, p.y());
      c.hi = std::max(c.hi, p.y());
      c.exit = p.y();
      ++c.points;
    } else {
      run.push_back({p.x(), p.y(), p.y(), p.y(), p.y(), 1});
    }
  }
  strokeColumns(run, out, deviceDx);
}
