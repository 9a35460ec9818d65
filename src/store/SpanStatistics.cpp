#include "store/SpanStatistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

SampleRange SpanRange(const SampleStore &store, double xA, double xB, qint64 limit) {
  SampleRange r;
  if (!std::isfinite(xA) || !std::isfinite(xB))
    return r;
  const double lo = std::min(xA, xB);
  const double hi = std::max(xA, xB);
  const qint64 n = limit < 0 ? store.count() : std::min(limit, store.count());
  r.begin = std::min(store.lowerBound(lo), n);
  // The first x above hi is the first one not below the next double.
  r.end = std::min(store.lowerBound(std::nextafter(hi, std::numeric_limits<double>::infinity())), n);
  r.end = std::max(r.begin, r.end);
  return r;
}

SpanStatistics ComputeSpanStatistics(const SampleStore &store, double xA, double xB, qint64 limit) {
  const SampleRange r = SpanRange(store, xA, xB, limit);
  const SampleStore::Stats s = store.stats(r.begin, r.end);
  SpanStatistics out;
  out.count = s.finite();
  out.gaps = s.gaps;
  out.slope = s.slope();
  if (s.hasValue()) {
    out.min = s.min;
    out.max = s.max;
    out.mean = s.meanY;
    out.stdDev = std::sqrt(s.variance());
  }
  return out;
}
