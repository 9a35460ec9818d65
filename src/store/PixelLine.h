#pragma once

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
