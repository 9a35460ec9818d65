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
