#pragma once

#include "store/SampleStore.h"

#include <QtGlobal>

// The statistics of the samples between two x positions of a store.
struct SpanStatistics {
  qint64 count = 0; // finite readings
  qint64 gaps = 0;
  double min = 0;
  double max = 0;
  double mean = 0;
  double stdDev = 0; // population standard deviation (divided by count)
  double slope = 0;  // least squares, y per store x unit; NaN unless two readings differ in x
  [[nodiscard]] bool hasValue() const { return count > 0; }
};

// Over the samples with x in [min(xA, xB), max(xA, xB)], both ends included; only the first
// `limit` samples count when limit is not negative (a snapshot). Whole blocks and nodes come
// from the store's summaries, raw samples only at the two ends: O(log n + block).
[[nodiscard]] SpanStatistics ComputeSpanStatistics(const SampleStore &store, double xA, double xB, qint64 limit = -1);

// The index range [begin, end) of those samples.
struct SampleRange {
  qint64 begin = 0;
  qint64 end = 0;
};
[[nodiscard]] SampleRange SpanRange(const SampleStore &store, double xA, double xB, qint64 limit = -1);
