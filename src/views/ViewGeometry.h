#pragma once

#include <QList>
#include <QRect>
#include <QSize>

// Arrangement codes of the channel views as stored in "ArrangeType".
enum class ArrangeType : int { Stacked = 0, TwoColumns = 1 };

// Where each of n channel views goes on a page of the given client size. Stacked: one view per
// row; two columns: rows of two, an odd last view alone in the left half. The last row takes what
// integer division leaves. Any other type code lays the views out stacked (rather than giving
// every view zero size).
[[nodiscard]] QList<QRect> ArrangeRects(int arrangeType, int count, QSize client);

// The information window's top-left inside a view: right-aligned by rightSpace, down by topSpace.
[[nodiscard]] QPoint PanelPosition(QSize viewClient, QSize panel, int rightSpace, int topSpace);

// Keeps a dragged information window inside its view: an edge closer than 5 px to the view's
// edge (or past it) is put 3 px inside.
[[nodiscard]] QPoint ClampPanel(QPoint topLeft, QSize panel, QSize viewClient);

// The highlight of the active view's information window: the colour lightened by 40 % through
// hue/saturation/lightness in whole degrees and per cent, with the classic ramp conversion back.
// Colours are 0x00BBGGRR values; rounding is to nearest, halves to even.
[[nodiscard]] int HighlightColor(int winColor);

// ---- keeping the information window inside its view

// The window's top-left moved just far enough to lie whole inside the view (at 0 when it is
// larger than the view). Placements from stored or copied spacings go through this, so a spacing
// taken from a wider view never puts the window out of sight.
[[nodiscard]] QPoint KeepPanelInside(QPoint topLeft, QSize panel, QSize viewClient);

// Row heights of the channel view's information window; 0 for a row that is not shown.
struct PanelRows {
  int now = 0;
  int max = 0;
  int min = 0;
  [[nodiscard]] int height() const; // with the window's frame
  bool operator==(const PanelRows &) const = default;
};
// The design heights while the window fits the view with a few pixels to spare; in a shorter
// view compact rows, and in a view too short even for those only the value row.
[[nodiscard]] PanelRows FitPanelRows(int viewHeight, bool showNow, bool showMax, bool showMin);

// ---- fitting a time chart into a short view

// Heights in pixels of the parts of a chart that lie above and below its data area.
struct ChartParts {
  int titleRow = 0;    // the chart title with its spacing
  int minTop = 0;      // least margin above the data area
  int minBottom = 0;   // least margin below it
  int axisPadding = 0; // below the X axis, before its labels
  int xTickLabels = 0; // with their padding
  int xAxisTitle = 0;  // with its padding
};

// What the chart shows. A short view gives up, in this order, the chart title, the X axis
// title, the X tick labels (except on the lowest view of a column, which labels the time for
// all) and then its roomy margins and fonts (compact).
struct ChartFit {
  bool title = true;
  bool xAxisTitle = true;
  bool xTickLabels = true;
  bool compact = false;
  bool operator==(const ChartFit &) const = default;
};

// The data area's height for a view height, the parts of the chart and what it shows.
[[nodiscard]] int ChartDataHeight(int viewHeight, const ChartParts &parts, const ChartFit &fit);

// The richest fit whose data area takes at least kChartDataShare of the view, from the parts at
// normal and at compact size; the most compact one when none does.
inline constexpr double kChartDataShare = 0.6;
[[nodiscard]] ChartFit FitChart(int viewHeight, bool lowestInColumn, const ChartParts &normal,
                                const ChartParts &compact);

// How many tick labels fit along an axis of `pixels` when each needs `pitch` pixels; at least 2.
[[nodiscard]] int TickLabelRoom(int pixels, int pitch);

// ---- axis ticks

// Ticks of an axis showing [lower, upper] lie at origin + k * step.
[[nodiscard]] int TicksInRange(double lower, double upper, double origin, double step);

// The step for an axis with a desired start (origin) and increment: the increment itself while
// it gives from minTicks to maxTicks ticks in view. Zoomed out too far, the smallest whole
// multiple of it that gives at most maxTicks; zoomed in too far, a round step (1, 2 or 5 times a
// power of ten) chosen from the visible span. minTicks is lowered to maxTicks when they clash.
[[nodiscard]] double AxisTickStep(double lower, double upper, double origin, double increment,
                                  int minTicks, int maxTicks);
