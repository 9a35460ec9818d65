#pragma once

#include <QLineF>
#include <QPointF>

#include <vector>

// A trace's polyline, in pixels, as separate lines for one QPainter::drawLines call: a call per
// segment costs more than the segment's pixels when a chart holds tens of thousands of them.
// A point whose x or y is not finite breaks the line.
//
// With `columns`, the points come in pixel columns one pixel apart (a time trace drawn from its
// per-column spans): all a column's segments and the halves of its joins to the neighbouring
// columns cover one vertical run of pixels, so each column is drawn as that single vertical line
// instead of up to four overlapping ones. Joins between columns further apart, and columns
// thinner than a pixel, keep their diagonal lines. `deviceDx` is what the painter adds to x: a
// column is moved onto the middle of its device pixel, so that an antialiased line fills that
// pixel instead of half of two.
void AppendStrokeLines(const QPointF *points, qsizetype count, bool columns, std::vector<QLineF> &out,
                       double deviceDx = 0);
