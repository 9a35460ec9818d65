#pragma once

#include "store/SampleStore.h"
#include "store/SpanStatistics.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

// Two measuring markers on a time chart, A and B, and what is read between them. No widgets:
// the chart only draws what these give.

enum class MarkerId : int { A = 0, B = 1 };

// A marker snaps to a sample this close; a press this close to a marker drags it.
inline constexpr double kMarkerSnapPixels = 5;
inline constexpr double kMarkerGrabPixels = 5;

// Where the markers are, in axis x (time) coordinates, so they keep their time while the chart
// scrolls, zooms or pans.
class MeasureMarkers {
public:
  [[nodiscard]] std::optional<double> position(MarkerId m) const { return m_x[static_cast<size_t>(m)]; }
  void set(MarkerId m, std::optional<double> x) { m_x[static_cast<size_t>(m)] = x; }
  void clear() { m_x = {}; }
  [[nodiscard]] bool any() const { return m_x[0] || m_x[1]; }
  // The marker a click at x places: A while it is not set, then B, then the nearer of the
  // two (A when both are equally near).
  [[nodiscard]] MarkerId clickTarget(double x) const;
  // The marker within `tolerance` (axis units) of x, the nearer first; empty when none is.
  [[nodiscard]] std::optional<MarkerId> grab(double x, double tolerance) const;

private:
  std::array<std::optional<double>, 2> m_x{};
};

// A trace to measure on: axis x = store x * xScale; only the first `limit` samples count when
// limit is not negative (a snapshot).
struct MarkerTrace {
  const SampleStore *store = nullptr;
  double xScale = 1;
  qint64 limit = -1;
};

// The axis x of the reading (a gap is no reading) nearest to x over all traces, when it lies
// within `tolerance` axis units of x; otherwise x itself.
[[nodiscard]] double SnapMarker(double x, const std::vector<MarkerTrace> &traces, double tolerance);

// The reading of the last sample at or before axis x; empty before the first sample or when
// that sample is a gap.
[[nodiscard]] std::optional<double> ReadingAt(const MarkerTrace &trace, double x);

// What the readout lists for one trace.
struct TraceMeasure {
  QString name;
  int decimals = 2;
  std::optional<double> atA;
  std::optional<double> atB;
  SpanStatistics span;        // between the markers, when both are set
  double slopePerUnit = 0;    // y per time-axis unit
};
[[nodiscard]] TraceMeasure MeasureTrace(const MarkerTrace &trace, const MeasureMarkers &markers, const QString &name,
                                        int decimals);

// The time axis's unit: its name ("秒") and the decimals that still show a millisecond.
struct MeasureTimeUnit {
  QString name;
  int decimals = 3;
};
// Decimals of a unit of msPerUnit milliseconds: 0 for ms, 3 for s, 5 for min, 7 for h.
[[nodiscard]] int TimeDecimals(double msPerUnit);

// The readout, one block of lines per trace:
//   A 12.345 秒  B 20.000 秒  Δt 7.655 秒
//   批次1  A 12.34  B 13.56  B−A 1.22
//     点数 1234  最小 12.00  最大 14.00
//     平均 13.01  标准差 0.45  斜率 0.1594/秒
// Values with the trace's decimals, the slope with four significant digits, "—" where there is
// nothing to show; the statistics lines only once both markers are set. Without any marker,
// a hint on how to place them.
[[nodiscard]] QString MeasureReadoutText(const MeasureMarkers &markers, const MeasureTimeUnit &unit,
                                         const std::vector<TraceMeasure> &traces);

inline const QString kMeasureHint = QStringLiteral("单击曲线放置标记A，再单击放置标记B");
