#include "views/ViewGeometry.h"

#include <algorithm>
#include <cmath>

QList<QRect> ArrangeRects(int arrangeType, int count, QSize client) {
  QList<QRect> rects;
  if (count <= 0)
    return rects;
  const int W = client.width();
  const int H = client.height();
  if (arrangeType == static_cast<int>(ArrangeType::TwoColumns)) {
    const int rows = count / 2 + (count % 2);
    const int h = H / rows;
    for (int i = 0; i < count; ++i) {
      const int row = i / 2;
      const int top = row * h;
      const int height = row == rows - 1 ? H - row * h : h;
      if (i % 2 == 0)
        rects.append(QRect(0, top, W / 2, height));
      else
        rects.append(QRect(W / 2, top, W - W / 2, height));
    }
    return rects;
  }
  const int h = H / count;
  for (int i = 0; i < count; ++i)
    rects.append(QRect(0, i * h, W, i == count - 1 ? H - (count - 1) * h : h));
  return rects;
}

QPoint PanelPosition(QSize viewClient, QSize panel, int rightSpace, int topSpace) {
  return {viewClient.width() - panel.width() - rightSpace, topSpace};
}

QPoint ClampPanel(QPoint p, QSize panel, QSize client) {
  int left = p.x();
  int top = p.y();
  if (left < 5)
    left = 3;
  if (top < 5)
    top = 3;
  if (top > client.height() - panel.height() - 5)
    top = client.height() - panel.height() - 3;
  if (left > client.width() - panel.width() - 5)
    left = client.width() - panel.width() - 3;
  return {left, top};
}

namespace {

// Round to nearest, halves to even.
int roundEven(double v) { return static_cast<int>(std::nearbyint(v)); }

} // namespace

int HighlightColor(int winColor) {
  const double r = (winColor & 0xFF) / 255.0;
  const double g = ((winColor >> 8) & 0xFF) / 255.0;
  const double b = ((winColor >> 16) & 0xFF) / 255.0;
  const double mx = std::max({r, g, b});
  const double mn = std::min({r, g, b});
  const double L = (mx + mn) / 2;
  double H = 0;
  double S = 0;
  if (mx != mn) {
    S = L >= 0.5 ? (mx - mn) / (2 - mx - mn) : (mx - mn) / (mx + mn);
    if (mx == r)
      H = (g - b) / (mx - mn);
    else if (mx != g)
      H = (r - g) / (mx - mn) + 4;
    else
      H = (b - r) / (mx - mn) + 2;
    H /= 6;
    if (H < 0)
      H += 1;
  }
  const int hue = roundEven(H * 360);
  const int sat = roundEven(S * 100);
  int light = roundEven(L * 100);
  light = std::min(100, light * 140 / 100);

  if (hue < 0 || hue > 359 || sat < 0 || sat > 100 || light < 0 || light > 100)
    return 0;
  double c[3];
  const double h = hue;
  if (h <= 60) {
    c[0] = 255; c[1] = roundEven(h * 4.25); c[2] = 0;
  } else if (h <= 120) {
    c[0] = roundEven(255 - (h - 60) * 4.25); c[1] = 255; c[2] = 0;
  } else if (h <= 180) {
    c[0] = 0; c[1] = 255; c[2] = roundEven((h - 120) * 4.25);
  } else if (h <= 240) {
    c[0] = 0; c[1] = roundEven(255 - (h - 180) * 4.25); c[2] = 255;
  } else if (h <= 300) {
    c[0] = roundEven((h - 240) * 4.25); c[1] = 0; c[2] = 255;
  } else {
    c[0] = 255; c[1] = 0; c[2] = roundEven(255 - (h - 300) * 4.25);
  }
  const double f = std::abs(sat - 100) / 100.0;
  for (double &v : c)
    v = roundEven(v - (v - 128) * f);
  const double w = (light - 50) / 50.0;
  for (double &v : c) {
    if (w > 0)
      v = roundEven(w * (255 - v) + v);
    else if (w < 0)
      v = roundEven(w * v + v);
  }
  const int R = std::clamp(static_cast<int>(c[0]), 0, 255);
  const int G = std::clamp(static_cast<int>(c[1]), 0, 255);
  const int B = std::clamp(static_cast<int>(c[2]), 0, 255);
  return R | (G << 8) | (B << 16);
}
