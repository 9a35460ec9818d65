// PlotChart: measuring markers A and B and their readout.
#include "views/PlotChart.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <qcustomplot.h>

#include <cmath>

// The readout: plain lines left of the data area. It asks for the width of its longest line
// and for no height, so a short chart clips it rather than growing past its view.
class MeasureReadoutElement : public QCPLayoutElement {
public:
  explicit MeasureReadoutElement(QCustomPlot *plot) : QCPLayoutElement(plot) {
    setMargins(QMargins(6, 4, 6, 4));
  }
  void setText(const QString &text) {
    if (text == m_text)
      return;
    m_text = text;
    m_width = QFontMetrics(m_font).boundingRect(QRect(), Qt::AlignLeft | Qt::AlignTop, m_text).width() + 2;
  }
  [[nodiscard]] QString text() const { return m_text; }
  void setFont(const QFont &font) {
    m_font = font;
    const QString t = m_text;
    m_text.clear();
    setText(t);
  }
  void setColor(const QColor &color) { m_color = color; }
  [[nodiscard]] QSize minimumOuterSizeHint() const override {
    return {m_width + mMargins.left() + mMargins.right(), 0};
  }
  [[nodiscard]] QSize maximumOuterSizeHint() const override {
    return {m_width + mMargins.left() + mMargins.right(), QWIDGETSIZE_MAX};
  }

protected:
  void draw(QCPPainter *painter) override {
    painter->save();
    painter->setClipRect(mOuterRect);
    painter->setFont(m_font);
    painter->setPen(m_color);
    painter->drawText(mRect, Qt::AlignLeft | Qt::AlignTop, m_text);
    painter->restore();
  }

private:
  QString m_text;
  QFont m_font;
  QColor m_color = Qt::white;
  int m_width = 0;
};

namespace {
const QColor kMarkerColors[2] = {QColor(0, 200, 255), QColor(255, 140, 0)};
const char *const kMarkerNames[2] = {"A", "B"};
} // namespace

void PlotChart::buildMeasureItems() {
  for (int i = 0; i < 2; ++i) {
    auto *line = new QCPItemStraightLine(m_plot);
    auto *label = new QCPItemText(m_plot);
    for (QCPItemPosition *p : {line->point1, line->point2, label->position}) {
      p->setTypeX(QCPItemPosition::ptPlotCoords);
      p->setTypeY(QCPItemPosition::ptAxisRectRatio);
    }
    line->setPen(QPen(kMarkerColors[i], 1, Qt::DashLine));
    label->setText(QString::fromLatin1(kMarkerNames[i]));
    label->setColor(kMarkerColors[i]);
    label->setFont(QFont(font().family(), 9, QFont::Bold));
    label->setPositionAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setPadding(QMargins(2, 1, 2, 1));
    for (QCPAbstractItem *item : {static_cast<QCPAbstractItem *>(line), static_cast<QCPAbstractItem *>(label)}) {
      item->setLayer(QStringLiteral("cursor"));
      item->setClipToAxisRect(true);
      item->setSelectable(false);
      item->setVisible(false);
    }
    m_markerLines[static_cast<size_t>(i)] = line;
    m_markerLabels[static_cast<size_t>(i)] = label;
  }
  m_readout = new MeasureReadoutElement(m_plot);
  m_readout->setLayer(m_plot->legend->layer());
  m_readout->setFont(QFont(font().family(), 9));
  m_readout->setVisible(false);
}

void PlotChart::setMeasuring(bool on) {
  if (on == m_measuring)
    return;
  m_measuring = on;
  QCPLayoutGrid *grid = m_plot->plotLayout();
  if (on) {
    int row = 0;
    for (int r = 0; r < grid->rowCount(); ++r) {
      if (grid->element(r, 0) == m_plot->axisRect())
        row = r;
    }
    grid->insertColumn(0);
    grid->addElement(row, 0, m_readout);
    m_readoutInLayout = true;
  } else {
    grid->take(m_readout);
    grid->simplify();
    m_readoutInLayout = false;
    // Measuring again starts afresh: the first click places A.
    m_markers.clear();
    if (m_drag == DragMode::Marker)
      m_drag = DragMode::None;
  }
  m_readout->setVisible(on);
  updateMeasureItems();
  requestReplot();
}

void PlotChart::setMarker(MarkerId marker, std::optional<double> x) {
  if (x && !std::isfinite(*x))
    return;
  m_markers.set(marker, x);
  updateMeasureItems();
  requestReplot();
  emit markersMoved();
}

void PlotChart::setMeasureFormat(std::function<int(int)> decimals, const MeasureTimeUnit &timeUnit) {
  m_traceDecimals = std::move(decimals);
  m_timeUnit = timeUnit;
  requestReplot();
}

std::vector<MarkerTrace> PlotChart::measureTraces(std::vector<int> *indices) const {
  std::vector<MarkerTrace> out;
  const QCPRange r = m_plot->xAxis->range();
  for (int i = 0; i < traceCount(); ++i) {
    const Trace &t = m_traces[static_cast<size_t>(i)];
    if (!t.graph || !t.plottable()->visible())
      continue;
    const qint64 n = t.count();
    if (n == 0)
      continue;
    // In view: a sample inside the axis range.
    const qint64 first = t.store->lowerBound(r.lower / t.xScale);
    if (first >= n || t.store->x(first) * t.xScale > r.upper)
      continue;
    out.push_back({t.store.get(), t.xScale, t.limit});
    if (indices)
      indices->push_back(i);
  }
  return out;
}

QString PlotChart::buildReadout() const {
  std::vector<int> indices;
  const std::vector<MarkerTrace> traces = measureTraces(&indices);
  std::vector<TraceMeasure> rows;
  rows.reserve(traces.size());
  for (size_t k = 0; k < traces.size(); ++k) {
    const int i = indices[k];
    const QString name = legendTitle() + m_traces[static_cast<size_t>(i)].plottable()->name();
    const int decimals = m_traceDecimals ? m_traceDecimals(i) : 2;
    rows.push_back(MeasureTrace(traces[k], m_markers, name, decimals));
  }
  return MeasureReadoutText(m_markers, m_timeUnit, rows);
}

QString PlotChart::measureReadout() const { return m_measuring ? buildReadout() : QString(); }

void PlotChart::copyMeasureReadout() const {
  if (m_measuring)
    QGuiApplication::clipboard()->setText(buildReadout());
}

void PlotChart::updateMeasureItems() const {
  for (int i = 0; i < 2; ++i) {
    const auto x = m_markers.position(static_cast<MarkerId>(i));
    const bool shown = m_measuring && x.has_value();
    QCPItemStraightLine *line = m_markerLines[static_cast<size_t>(i)];
    QCPItemText *label = m_markerLabels[static_cast<size_t>(i)];
    line->setVisible(shown);
    label->setVisible(shown);
    if (!shown)
      continue;
    line->point1->setCoords(*x, 0);
    line->point2->setCoords(*x, 1);
    label->position->setCoords(*x, 0);
  }
  if (!m_measuring)
    return;
  m_readout->setColor(m_title->textColor());
  m_readout->setText(buildReadout());
}

void PlotChart::dragMarkerTo(double pixelX) {
  const QRect r = dataRect();
  if (r.width() <= 0)
    return;
  const double px = std::clamp(pixelX, double(r.left()), double(r.right()));
  const double perPixel = m_plot->xAxis->range().size() / r.width();
  const double x = m_plot->xAxis->pixelToCoord(px);
  m_markers.set(m_dragMarker, SnapMarker(x, measureTraces(), kMarkerSnapPixels * perPixel));
  updateMeasureItems();
  m_plot->replot(QCustomPlot::rpQueuedReplot);
  emit markersMoved();
}
