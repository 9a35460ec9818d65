#pragma once

#include <cmath>
#include <limits>
#include <optional>

// Smallest and largest x and y of the points added since the last reset, kept as points
// arrive so that reading them never scans the points. A y that is not finite (a gap) does not
// count; x is always finite (the chart refuses other points).
class RunningExtremes {
public:
  void reset() { *this = RunningExtremes(); }

  void add(double x, double y) {
    if (x < m_minX)
      m_minX = x;
    if (x > m_maxX)
      m_maxX = x;
    if (std::isfinite(y)) {
      if (y < m_minY)
        m_minY = y;
      if (y > m_maxY)
        m_maxY = y;
    }
  }

  [[nodiscard]] std::optional<double> minX() const { return valid(m_minX, m_maxX) ? std::optional(m_minX) : std::nullopt; }
  [[nodiscard]] std::optional<double> maxX() const { return valid(m_minX, m_maxX) ? std::optional(m_maxX) : std::nullopt; }
  [[nodiscard]] std::optional<double> minY() const { return valid(m_minY, m_maxY) ? std::optional(m_minY) : std::nullopt; }
  [[nodiscard]] std::optional<double> maxY() const { return valid(m_minY, m_maxY) ? std::optional(m_maxY) : std::nullopt; }

private:
  static bool valid(double lo, double hi) { return lo <= hi; }

  double m_minX = std::numeric_limits<double>::infinity();
  double m_maxX = -std::numeric_limits<double>::infinity();
  double m_minY = std::numeric_limits<double>::infinity();
  double m_maxY = -std::numeric_limits<double>::infinity();
};
