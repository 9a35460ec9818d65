// PlotChart: fitting the chart into a short view, and the room for Y tick labels.
#include "views/PlotChart.h"

#include <QResizeEvent>
#include <qcustomplot.h>

#include <algorithm>

namespace {
// Compact size: small fonts and the least padding that still keeps labels off the axis line.
constexpr int kCompactFontPixels = 10;
constexpr int kCompactPadding = 1;
constexpr int kCompactTickLabelPadding = 2;
constexpr int kCompactLabelPadding = 1;
constexpr int kCompactTopMargin = 4;
constexpr int kCompactBottomMargin = 2;
// Between two Y tick labels, beyond the label height.
constexpr int kTickLabelGap = 2;

QFont withPixelSize(QFont f, int pixels) {
  f.setPixelSize(pixels);
  return f;
}
} // namespace

void PlotChart::initFitStyles() {
  const QCPAxis *x = m_plot->xAxis;
  m_normalStyle = {x->tickLabelFont(), x->labelFont(), x->padding(), x->tickLabelPadding(), x->labelPadding(),
                   m_plot->axisRect()->minimumMargins()};
  const QMargins &m = m_normalStyle.minMargins;
  m_compactStyle = {withPixelSize(x->tickLabelFont(), kCompactFontPixels),
                    withPixelSize(x->labelFont(), kCompactFontPixels),
                    kCompactPadding,
                    kCompactTickLabelPadding,
                    kCompactLabelPadding,
                    QMargins(m.left(), kCompactTopMargin, m.right(), kCompactBottomMargin)};
}

ChartParts PlotChart::chartParts(bool compact) const {
  const FitStyle &st = compact ? m_compactStyle : m_normalStyle;
  const QMargins tm = m_title->margins();
  ChartParts p;
  p.titleRow = QFontMetrics(m_title->font()).height() + tm.top() + tm.bottom() + m_plot->plotLayout()->rowSpacing();
  p.minTop = st.minMargins.top();
  p.minBottom = st.minMargins.bottom();
  p.axisPadding = st.padding + m_plot->xAxis->tickLengthOut();
  p.xTickLabels = QFontMetrics(st.tickFont).height() + st.tickLabelPadding;
  p.xAxisTitle = QFontMetrics(st.labelFont).height() + st.labelPadding;
  return p;
}

void PlotChart::setFitToHeight(bool on, bool lowestInColumn) {
  m_fitOn = on;
  m_fitLowest = lowestInColumn;
  applyFit();
}

void PlotChart::resizeEvent(QResizeEvent *event) {
  QWidget::resizeEvent(event);
  if (m_fitOn && event->size().height() != event->oldSize().height())
    applyFit();
}

void PlotChart::applyFit() {
  const ChartFit fit = m_fitOn ? FitChart(height(), m_fitLowest, chartParts(false), chartParts(true)) : ChartFit{};
  if (fit == m_fit)
    return;
  m_fit = fit;
  updateTitleRow();
  const FitStyle &st = fit.compact ? m_compactStyle : m_normalStyle;
  for (QCPAxis *a : {m_plot->xAxis, m_plot->yAxis}) {
    a->setTickLabelFont(st.tickFont);
    a->setLabelFont(st.labelFont);
    a->setPadding(st.padding);
    a->setTickLabelPadding(st.tickLabelPadding);
    a->setLabelPadding(st.labelPadding);
  }
  m_plot->axisRect()->setMinimumMargins(st.minMargins);
  m_plot->xAxis->setLabel(fit.xAxisTitle ? m_xTitle : QString());
  m_plot->xAxis->setTickLabels(fit.xTickLabels);
  requestReplot();
}

void PlotChart::fitTickLabels() {
  // The labels are centred on their ticks: one label height apart they no longer touch.
  AxisState &y = stateOf(ChartAxis::Y);
  const int pitch = QFontMetrics(m_plot->yAxis->tickLabelFont()).height() + kTickLabelGap;
  const int room = std::min(kMaxTicks, TickLabelRoom(m_plot->axisRect()->height(), pitch));
  if (room == y.labelRoom)
    return;
  y.labelRoom = room;
  installTicker(ChartAxis::Y);
  // Lay out again with the new ticks before the picture is drawn (only when the room changed).
  QCPLayoutGrid *layout = m_plot->plotLayout();
  for (QCPLayoutElement::UpdatePhase phase :
       {QCPLayoutElement::upPreparation, QCPLayoutElement::upMargins, QCPLayoutElement::upLayout})
    layout->update(phase);
}
