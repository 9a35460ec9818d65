#include "views/ViewGeometry.h"

#include <algorithm>
#include <cmath>
#include <iterator>

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

// ---- information window

QPoint KeepPanelInside(QPoint p, QSize panel, QSize client) {
  const int left = std::max(0, std::min(p.x(), client.width() - panel.width()));
  const int top = std::max(0, std::min(p.y(), client.height() - panel.height()));
  return {left, top};
}

namespace {
constexpr int kPanelFrame = 2;  // above and below the rows
constexpr int kPanelSpare = 3;  // what the window keeps clear of the view's edges
constexpr PanelRows kDesignRows{32, 24, 22};
constexpr PanelRows kCompactRows{24, 17, 17};

PanelRows shownRows(PanelRows r, bool now, bool max, bool min) {
  return {now ? r.now : 0, max ? r.max : 0, min ? r.min : 0};
}
} // namespace

int PanelRows::height() const { return now + max + min + 2 * kPanelFrame; }

PanelRows FitPanelRows(int viewHeight, bool showNow, bool showMax, bool showMin) {
  for (const PanelRows &r : {kDesignRows, kCompactRows}) {
    const PanelRows shown = shownRows(r, showNow, showMax, showMin);
    if (shown.height() + 2 * kPanelSpare <= viewHeight)
      return shown;
  }
  // Too short even for compact rows: the value is what the window is for. A window without
  // the value row keeps one extreme.
  if (showNow)
    return {kCompactRows.now, 0, 0};
  return shownRows(kCompactRows, false, showMax, showMin && !showMax);
}

// ---- chart fitting

int ChartDataHeight(int viewHeight, const ChartParts &p, const ChartFit &f) {
  const int below = p.axisPadding + (f.xTickLabels ? p.xTickLabels : 0) + (f.xAxisTitle ? p.xAxisTitle : 0);
  return viewHeight - (f.title ? p.titleRow : 0) - p.minTop - std::max(p.minBottom, below);
}

ChartFit FitChart(int viewHeight, bool lowestInColumn, const ChartParts &normal, const ChartParts &compact) {
  const ChartFit steps[] = {
      {true, true, true, false},
      {false, true, true, false},
      {false, false, true, false},
      {false, false, lowestInColumn, false},
      {false, false, lowestInColumn, true},
  };
  for (const ChartFit &f : steps) {
    const ChartParts &p = f.compact ? compact : normal;
    if (ChartDataHeight(viewHeight, p, f) >= viewHeight * kChartDataShare)
      return f;
  }
  return steps[std::size(steps) - 1];
}

int TickLabelRoom(int pixels, int pitch) { return std::max(2, pitch > 0 ? pixels / pitch : 2); }

// ---- ticks

int TicksInRange(double lower, double upper, double origin, double step) {
  if (!(step > 0) || !(upper >= lower))
    return 0;
  // A tick that rounding puts a hair outside the range still counts.
  const double eps = 1e-9;
  const double first = std::ceil((lower - origin) / step - eps);
  const double last = std::floor((upper - origin) / step + eps);
  const double n = last - first + 1;
  return n < 0 ? 0 : n > 1e9 ? 1000000000 : static_cast<int>(n);
}

double AxisTickStep(double lower, double upper, double origin, double increment, int minTicks, int maxTicks) {
  const double span = upper - lower;
  if (!(span > 0) || !std::isfinite(span) || !(increment > 0))
    return increment;
  maxTicks = std::max(2, maxTicks);
  minTicks = std::clamp(minTicks, 1, maxTicks);
  const int n = TicksInRange(lower, upper, origin, increment);
  if (n >= minTicks && n <= maxTicks)
    return increment;
  if (n > maxTicks) {
    // Whole multiples keep the ticks on the desired grid.
    double k = std::max(1.0, std::floor(span / increment / maxTicks));
    for (int guard = 0; guard < 64 && TicksInRange(lower, upper, origin, increment * k) > maxTicks; ++guard)
      k += std::max(1.0, std::floor(k / 8));
    return increment * k;
  }
  // Too few: the largest round step that gives enough ticks without giving too many.
  double decade = std::pow(10.0, std::floor(std::log10(span)));
  double best = 0;
  int bestCount = 0;
  for (int guard = 0; guard < 60; ++guard, decade /= 10) {
    for (double m : {5.0, 2.0, 1.0}) {
      const double step = m * decade;
      const int c = TicksInRange(lower, upper, origin, step);
      if (c > maxTicks)
        return best > 0 ? best : step;
      if (c > bestCount) {
        best = step;
        bestCount = c;
      }
      if (c >= minTicks)
        return step;
    }
  }
  return best > 0 ? best : increment;
}
