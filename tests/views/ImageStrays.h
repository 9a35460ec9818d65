#pragma once

#include <QImage>

// Pixels of `a` for which `lit` holds with no such pixel of `b` within one pixel: 0 both ways
// means two drawings of the same thing differ by at most a pixel.
template <class Lit>
int ImageStrays(const QImage &a, const QImage &b, Lit lit) {
  const auto on = [&](const QImage &img, int x, int y) {
    return x >= 0 && y >= 0 && x < img.width() && y < img.height() && lit(img.pixel(x, y));
  };
  int n = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      if (!on(a, x, y))
        continue;
      bool near = false;
      for (int dy = -1; dy <= 1 && !near; ++dy)
        for (int dx = -1; dx <= 1 && !near; ++dx)
          near = on(b, x + dx, y + dy);
      n += near ? 0 : 1;
    }
  return n;
}
