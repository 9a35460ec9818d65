#include "views/PlotChart.h"

#include <qcustomplot.h>

namespace {

QCPItemStraightLine *LimitLine(QCustomPlot *plot) {
  auto *line = new QCPItemStraightLine(plot);
  QPen pen(QColor(255, 64, 64), 1, Qt::DashLine);
  line->setPen(pen);
  line->setSelectable(false);
  line->setClipToAxisRect(true);
  line->setVisible(false);
  return line;
}

void Place(QCPItemStraightLine *line, std::optional<double> y) {
  line->setVisible(y.has_value());
  if (!y)
    return;
  // Two points of the same value: a horizontal line across the whole time axis at any zoom.
  line->point1->setCoords(0, *y);
  line->point2->setCoords(1, *y);
}

} // namespace

void PlotChart::setLimitLines(std::optional<double> high, std::optional<double> low) {
  if (!m_highLine) {
    m_highLine = LimitLine(m_plot);
    m_lowLine = LimitLine(m_plot);
  }
  Place(m_highLine, high);
  Place(m_lowLine, low);
  requestReplot();
}

std::optional<double> PlotChart::limitLine(bool high) const {
  const QCPItemStraightLine *line = high ? m_highLine : m_lowLine;
  if (!line || !line->visible())
    return std::nullopt;
  return line->point1->coords().y();
}
