#pragma once

#include <algorithm>
#include <cstdlib>

// Bresenham: visits every pixel from (x0, y0) to (x1, y1), both ends included, in order, and
// stops early when visit answers false. Answers whether it got to the end.
template <class Int, class Visit>
bool WalkPixelLine(Int x0, Int y0, Int x1, Int y1, Visit &&visit) {
  const Int sx = x0 < x1 ? 1 : -1;
  const Int sy = y0 < y1 ? 1 : -1;
  const Int dx = std::abs(x1 - x0);
  const Int dy = -std::abs(y1 - y0);
  Int err = dx + dy;
  for (;;) {
    if (!visit(x0, y0))
      return false;
    if (x0 == x1 && y0 == y1)
      return true;
    const Int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

// Liang-Barsky: cuts the segment a-b to its part inside the closed box [x0, x1] x [y0, y1];
// false if no part of it is inside. Lines are clipped before they are stepped along, since
// an end may lie millions of pixels away.
inline bool ClipLineToBox(double &ax, double &ay, double &bx, double &by, double x0, double y0, double x1, double y1) {
  const double dx = bx - ax;
  const double dy = by - ay;
  double t0 = 0;
  double t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {ax - x0, x1 - ax, ay - y0, y1 - ay};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0)
        return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0)
      t0 = std::max(t0, t);
    else
      t1 = std::min(t1, t);
    if (t0 > t1)
      return false;
  }
  const double fx = ax;
  const double fy = ay;
  ax = fx + t0 * dx;
  ay = fy + t0 * dy;
  bx = fx + t1 * dx;
  by = fy + t1 * dy;
  return true;
}
