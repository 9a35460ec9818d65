#pragma once

#include <qcustomplot.h>

// The plot the charts draw on: QCustomPlot whose layers paint on images rather than pixmaps,
// so that a trace's raster (LineRaster) writes its pixels straight into them.
class ChartPlot : public QCustomPlot {
public:
  explicit ChartPlot(QWidget *parent = nullptr);
};

// QCustomPlot's graph and curve, with the line stroked in one drawLines call (StrokeLines) on
// the screen and in pictures. Prints and vector output keep the library's polylines.
class ChartGraph : public QCPGraph {
public:
  ChartGraph(QCPAxis *keyAxis, QCPAxis *valueAxis) : QCPGraph(keyAxis, valueAxis) {}
  // The data holds per-pixel-column spans (one column a pixel apart): each column is stroked
  // as one vertical line.
  void setColumns(bool columns) { m_columns = columns; }

protected:
  void drawLinePlot(QCPPainter *painter, const QVector<QPointF> &lines) const override;

private:
  bool m_columns = false;
};

class ChartCurve : public QCPCurve {
public:
  ChartCurve(QCPAxis *keyAxis, QCPAxis *valueAxis) : QCPCurve(keyAxis, valueAxis) {}

protected:
  // A plain line of many vertices goes from the data to the raster in one pass: the library's
  // pixel lines, its out-of-view corner points and the separate line list cost as much as the
  // pixels of a curve of a hundred thousand vertices. Everything else is the library's draw.
  void draw(QCPPainter *painter) override;
  void drawCurveLine(QCPPainter *painter, const QVector<QPointF> &lines) const override;

private:
  [[nodiscard]] bool rastersDirectly(const QCPPainter *painter) const;
};
