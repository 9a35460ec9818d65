#include "views/MeasureMarkers.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const QString kNone = QStringLiteral("—");

qint64 sampleCount(const MarkerTrace &t) {
  return t.limit < 0 ? t.store->count() : std::min(t.limit, t.store->count());
}

// Axis x to store x. A marker snapped to a sample holds that sample's x times the scale, which
// divided back may miss it by a rounding step: widen the bound by one step outward.
double toStore(const MarkerTrace &t, double x, double outward) {
  const double s = x / t.xScale;
  return t.xScale == 1 ? s : std::nextafter(s, outward);
}

QString value(std::optional<double> v, int decimals) {
  return v && std::isfinite(*v) ? QString::number(*v, 'f', std::max(0, decimals)) : kNone;
}

} // namespace

MarkerId MeasureMarkers::clickTarget(double x) const {
  if (!m_x[0])
    return MarkerId::A;
  if (!m_x[1])
    return MarkerId::B;
  return std::abs(x - *m_x[1]) < std::abs(x - *m_x[0]) ? MarkerId::B : MarkerId::A;
}

std::optional<MarkerId> MeasureMarkers::grab(double x, double tolerance) const {
  std::optional<MarkerId> best;
  double bestDistance = kInf;
  for (const MarkerId m : {MarkerId::A, MarkerId::B}) {
    const auto at = position(m);
    if (!at)
      continue;
    const double d = std::abs(x - *at);
    if (d <= tolerance && d < bestDistance) {
      best = m;
      bestDistance = d;
    }
  }
  return best;
}

double SnapMarker(double x, const std::vector<MarkerTrace> &traces, double tolerance) {
  if (!std::isfinite(x) || !(tolerance >= 0))
    return x;
  // Gaps are stepped over, but not for ever: a run of gaps longer than a block snaps nowhere.
  constexpr int kMaxSteps = SampleStore::kBlock;
  double best = x;
  double bestDistance = kInf;
  for (const MarkerTrace &t : traces) {
    if (!t.store || !(t.xScale > 0))
      continue;
    const qint64 n = sampleCount(t);
    const qint64 right = std::min(t.store->lowerBound(x / t.xScale), n);
    const auto consider = [&](qint64 i) {
      const double at = t.store->x(i) * t.xScale;
      const double d = std::abs(at - x);
      if (d > tolerance)
        return false; // further on only further away
      if (!std::isfinite(t.store->y(i)))
        return true; // a gap: look at the next one
      if (d < bestDistance) {
        best = at;
        bestDistance = d;
      }
      return false;
    };
    for (qint64 i = right, k = 0; i < n && k < kMaxSteps && consider(i); ++i, ++k) {
    }
    for (qint64 i = right - 1, k = 0; i >= 0 && k < kMaxSteps && consider(i); --i, ++k) {
    }
  }
  return best;
}

std::optional<double> ReadingAt(const MarkerTrace &t, double x) {
  if (!t.store || !std::isfinite(x) || !(t.xScale > 0))
    return std::nullopt;
  const qint64 n = sampleCount(t);
  // The first sample after x, then the one before it.
  const qint64 after = std::min(t.store->lowerBound(std::nextafter(toStore(t, x, kInf), kInf)), n);
  if (after == 0)
    return std::nullopt;
  const double y = t.store->y(after - 1);
  return std::isfinite(y) ? std::optional(y) : std::nullopt;
}

TraceMeasure MeasureTrace(const MarkerTrace &t, const MeasureMarkers &markers, const QString &name, int decimals) {
  TraceMeasure m;
  m.name = name;
  m.decimals = decimals;
  const auto a = markers.position(MarkerId::A);
  const auto b = markers.position(MarkerId::B);
  if (a)
    m.atA = ReadingAt(t, *a);
  if (b)
    m.atB = ReadingAt(t, *b);
  if (a && b && t.store && t.xScale > 0) {
    const double lo = std::min(*a, *b);
    const double hi = std::max(*a, *b);
    m.span = ComputeSpanStatistics(*t.store, toStore(t, lo, -kInf), toStore(t, hi, kInf), t.limit);
    m.slopePerUnit = m.span.slope / t.xScale;
  }
  return m;
}

int TimeDecimals(double msPerUnit) {
  if (!(msPerUnit > 1))
    return 0;
  return static_cast<int>(std::ceil(std::log10(msPerUnit) - 1e-9));
}

QString MeasureReadoutText(const MeasureMarkers &markers, const MeasureTimeUnit &unit,
                           const std::vector<TraceMeasure> &traces) {
  if (!markers.any())
    return kMeasureHint;
  const auto a = markers.position(MarkerId::A);
  const auto b = markers.position(MarkerId::B);
  const auto time = [&unit](std::optional<double> t) {
    return t ? QString::number(*t, 'f', unit.decimals) + QLatin1Char(' ') + unit.name : kNone;
  };
  const bool both = a && b;
  QStringList lines;
  lines << QStringLiteral("A %1  B %2  Δt %3").arg(time(a), time(b), time(both ? std::optional(*b - *a) : std::nullopt));
  for (const TraceMeasure &t : traces) {
    std::optional<double> diff;
    if (t.atA && t.atB)
      diff = t.atB.value() - t.atA.value();
    lines << QStringLiteral("%1  A %2  B %3  B−A %4")
                 .arg(t.name, value(t.atA, t.decimals), value(t.atB, t.decimals), value(diff, t.decimals));
    if (!both)
      continue;
    const SpanStatistics &s = t.span;
    const auto stat = [&](double v) { return value(s.hasValue() ? std::optional(v) : std::nullopt, t.decimals); };
    QString counts = QStringLiteral("  点数 %1  最小 %2  最大 %3").arg(s.count).arg(stat(s.min), stat(s.max));
    if (s.gaps > 0)
      counts += QStringLiteral("  间断 %1").arg(s.gaps);
    lines << counts;
    const QString slope = std::isfinite(t.slopePerUnit) && s.hasValue()
                              ? QString::number(t.slopePerUnit, 'g', 4) + QLatin1Char('/') + unit.name
                              : kNone;
    lines << QStringLiteral("  平均 %1  标准差 %2  斜率 %3").arg(stat(s.mean), stat(s.stdDev), slope);
  }
  return lines.join(QLatin1Char('\n'));
}
