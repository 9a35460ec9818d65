// PlotChart: data cursor, mouse, keyboard and focus handling, zoom box, picture saving and printing.
#include "views/PlotChart.h"

#include "app/MessageBoxes.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace {
// Size used for pictures and printouts of a chart that has never been laid out.
constexpr int kFallbackWidth = 800;
constexpr int kFallbackHeight = 500;
constexpr int kMinPictureSide = 50;

QSize pictureSize(const QCustomPlot *plot) {
  if (plot->width() < kMinPictureSide || plot->height() < kMinPictureSide)
    return {kFallbackWidth, kFallbackHeight};
  return plot->size();
}
} // namespace

// ---- data cursor

double PlotChart::cursorX() const {
  const QCPRange r = m_plot->xAxis->range();
  return r.lower + r.size() * m_cursorPercent / 100.0;
}

void PlotChart::setCursorVisible(bool visible) {
  m_cursorVisible = visible;
  m_cursorLine->setVisible(visible);
  if (visible)
    updateCursorItems();
  else {
    m_cursorTracer->setVisible(false);
    m_cursorHint->setVisible(false);
  }
  requestReplot();
}

void PlotChart::setCursorPosition(double percent) {
  if (!std::isfinite(percent))
    return;
  m_cursorPercent = std::clamp(percent, 0.0, 100.0);
  if (m_cursorVisible)
    updateCursorItems();
  requestReplot();
}

std::optional<QPointF> PlotChart::nearestCurvePoint(const Trace &t) const {
  const double x = cursorX();
  Trace::Nearest &n = t.nearest;
  // Asked twice a replot (the reading, then the tracer); searched once per change.
  if (n.store != t.points->id() || n.count != t.points->count() || n.x != x)
    n = {t.points->id(), t.points->count(), x, t.points->nearestX(x)};
  if (!n.point)
    return std::nullopt;
  return QPointF(n.point->x, n.point->y);
}

std::optional<double> PlotChart::cursorValue(int trace) const {
  const Trace *t = traceAt(trace);
  if (!t || t->count() == 0)
    return std::nullopt;
  if (t->curve) {
    const auto p = nearestCurvePoint(*t);
    return p ? std::optional(p->y()) : std::nullopt;
  }
  // Read from the store, not from what is drawn: the exact values either side of the cursor.
  const SampleStore &s = *t->store;
  const qint64 n = t->count();
  const double x = cursorX();
  const double sx = x / t->xScale;
  const qint64 right = std::min(s.lowerBound(sx), n);
  const bool hasRight = right < n && std::isfinite(s.y(right));
  const bool hasLeft = right > 0 && std::isfinite(s.y(right - 1));
  if (hasRight && s.x(right) * t->xScale == x)
    return s.y(right);
  if (hasLeft && hasRight) {
    const double lx = s.x(right - 1) * t->xScale;
    const double rx = s.x(right) * t->xScale;
    const double f = (x - lx) / (rx - lx);
    return s.y(right - 1) + f * (s.y(right) - s.y(right - 1));
  }
  if (hasLeft)
    return s.y(right - 1);
  if (hasRight)
    return s.y(right);
  return std::nullopt;
}

void PlotChart::updateCursorItems() {
  const double p = m_cursorPercent / 100.0;
  m_cursorLine->point1->setCoords(p, 0);
  m_cursorLine->point2->setCoords(p, 1);
  const double x = cursorX();
  QString hint = QStringLiteral("X: %1").arg(x, 0, 'g', 6);
  QColor hintColor = Qt::yellow;
  bool onTrace = false;
  // The hint reads the first trace that is drawn and has a value at the cursor.
  for (int i = 0; i < traceCount(); ++i) {
    const Trace &t = m_traces[static_cast<size_t>(i)];
    if (!t.plottable()->visible())
      continue;
    if (const auto y = cursorValue(i)) {
      hint += QStringLiteral("\nY: %1").arg(*y, 0, 'g', 6);
      hintColor = t.color;
      m_cursorTracer->position->setType(QCPItemPosition::ptPlotCoords);
      // On a curve the reading comes from a point that may lie beside the cursor line.
      const double at = t.curve ? nearestCurvePoint(t).value_or(QPointF(x, *y)).x() : x;
      m_cursorTracer->position->setCoords(at, *y);
      m_cursorTracer->setPen(QPen(t.color));
      onTrace = true;
      break;
    }
  }
  m_cursorTracer->setVisible(onTrace);
  m_cursorHint->setText(hint);
  m_cursorHint->setColor(hintColor);
  // Keep the hint inside the data area: to the right of the line, or to its left near the edge.
  const bool leftSide = p > 0.75;
  m_cursorHint->setPositionAlignment((leftSide ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
  m_cursorHint->position->setCoords(p, 0.02);
  m_cursorHint->setVisible(true);
}

// ---- zoom box

void PlotChart::setZoomBoxMode(bool on) {
  m_zoomBox = on;
  m_plot->setSelectionRectMode(on ? QCP::srmZoom : QCP::srmNone);
}

// ---- mouse and focus

QRect PlotChart::dataRect() const { return m_plot->axisRect()->rect(); }

bool PlotChart::overXAxis(const QPointF &pos) const {
  const QRect r = dataRect();
  const QRect outer = m_plot->axisRect()->outerRect();
  return pos.x() >= r.left() && pos.x() <= r.right() && pos.y() > r.bottom() && pos.y() <= outer.bottom();
}

bool PlotChart::overYAxis(const QPointF &pos) const {
  const QRect r = dataRect();
  const QRect outer = m_plot->axisRect()->outerRect();
  return pos.y() >= r.top() && pos.y() <= r.bottom() && pos.x() < r.left() && pos.x() >= outer.left();
}

void PlotChart::placeCursorAt(double pixelX) {
  const QRect r = dataRect();
  if (r.width() <= 0)
    return;
  setCursorPosition((pixelX - r.left()) * 100.0 / r.width());
  m_plot->replot(QCustomPlot::rpQueuedReplot);
  emit dataCursorMoved(0);
}

bool PlotChart::eventFilter(QObject *watched, QEvent *event) {
  if (watched != m_plot)
    return QWidget::eventFilter(watched, event);
  switch (event->type()) {
  case QEvent::FocusIn:
    emit focusEntered();
    break;
  case QEvent::FocusOut:
    emit focusLeft();
    break;
  case QEvent::MouseButtonDblClick:
    emit doubleClicked();
    break;
  case QEvent::MouseButtonPress:
  case QEvent::MouseMove:
  case QEvent::MouseButtonRelease:
    return handleMouse(event);
  case QEvent::ShortcutOverride:
  case QEvent::KeyPress:
    // Ctrl+C copies the readout, before any shortcut of the window sees it.
    if (m_measuring && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
      event->accept();
      if (event->type() == QEvent::KeyPress)
        copyMeasureReadout();
      return true;
    }
    break;
  default:
    break;
  }
  return false;
}

bool PlotChart::handleMouse(QEvent *event) {
  const auto *me = static_cast<QMouseEvent *>(event);
  const QPointF pos = me->position();
  switch (event->type()) {
  case QEvent::MouseButtonPress: {
    if (me->button() != Qt::LeftButton || m_zoomBox)
      return false;
    if (overXAxis(pos) || overYAxis(pos)) {
      m_drag = overXAxis(pos) ? DragMode::PanX : DragMode::PanY;
      const QCPRange r = (m_drag == DragMode::PanX ? m_plot->xAxis : m_plot->yAxis)->range();
      m_dragStart = pos;
      m_dragLower = r.lower;
      m_dragUpper = r.upper;
      return true;
    }
    if (m_measuring && dataRect().contains(pos.toPoint())) {
      const QRect r = dataRect();
      const double x = m_plot->xAxis->pixelToCoord(pos.x());
      const double perPixel = m_plot->xAxis->range().size() / std::max(1, r.width());
      const auto grabbed = m_markers.grab(x, kMarkerGrabPixels * perPixel);
      m_dragMarker = grabbed ? *grabbed : m_markers.clickTarget(x);
      m_drag = DragMode::Marker;
      if (!grabbed)
        dragMarkerTo(pos.x());
      return true;
    }
    if (m_cursorVisible && dataRect().contains(pos.toPoint())) {
      m_drag = DragMode::Cursor;
      placeCursorAt(pos.x());
      return true;
    }
    return false;
  }
  case QEvent::MouseMove: {
    if (m_drag == DragMode::PanX || overXAxis(pos))
      emit xAxisMouseMove(me->buttons());
    const QRect r = dataRect();
    const double span = m_dragUpper - m_dragLower;
    switch (m_drag) {
    case DragMode::PanX: {
      if (r.width() <= 0)
        return true;
      const double shift = -(pos.x() - m_dragStart.x()) / r.width() * span;
      m_plot->xAxis->setRange(m_dragLower + shift, m_dragUpper + shift);
      m_plot->replot(QCustomPlot::rpQueuedReplot);
      return true;
    }
    case DragMode::PanY: {
      if (r.height() <= 0)
        return true;
      const double shift = (pos.y() - m_dragStart.y()) / r.height() * span;
      m_plot->yAxis->setRange(m_dragLower + shift, m_dragUpper + shift);
      m_plot->replot(QCustomPlot::rpQueuedReplot);
      return true;
    }
    case DragMode::Cursor:
      placeCursorAt(pos.x());
      return true;
    case DragMode::Marker:
      dragMarkerTo(pos.x());
      return true;
    case DragMode::None:
      break;
    }
    return false;
  }
  case QEvent::MouseButtonRelease:
    if (m_drag != DragMode::None && me->button() == Qt::LeftButton) {
      m_drag = DragMode::None;
      return true;
    }
    return false;
  default:
    return false;
  }
}

// ---- output

bool PlotChart::saveImage(const QString &fileName) const {
  refreshTraceData();
  if (m_measuring)
    updateMeasureItems();
  const QString suffix = QFileInfo(fileName).suffix().toLower();
  const QSize size = pictureSize(m_plot);
  const int w = size.width();
  const int h = size.height();
  if (suffix == QLatin1String("png"))
    return m_plot->savePng(fileName, w, h);
  if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
    return m_plot->saveJpg(fileName, w, h);
  if (suffix == QLatin1String("bmp"))
    return m_plot->saveBmp(fileName, w, h);
  if (suffix == QLatin1String("pdf"))
    return m_plot->savePdf(fileName, w, h, QCP::epAllowCosmetic, QCoreApplication::applicationName(), title());
  return false;
}

bool PlotChart::print(QPrinter &printer) const {
  refreshTraceData();
  if (m_measuring)
    updateMeasureItems();
  QCPPainter painter;
  if (!painter.begin(&printer))
    return false;
  const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
  const QSize size = pictureSize(m_plot);
  const double scale = qMin(page.width() / size.width(), page.height() / size.height());
  painter.setMode(QCPPainter::pmVectorized);
  painter.setMode(QCPPainter::pmNoCaching);
  if (scale > 0)
    painter.scale(scale, scale);
  m_plot->toPainter(&painter, size.width(), size.height());
  return painter.end();
}

bool PlotChart::execSaveImageDialog() {
  const QString filters = QStringLiteral("PNG 图片 (*.png);;JPEG 图片 (*.jpg *.jpeg);;BMP 图片 (*.bmp);;PDF 文件 (*.pdf)");
  QString selected;
  QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存为图片"), QString(), filters, &selected);
  if (path.isEmpty())
    return false;
  if (QFileInfo(path).suffix().isEmpty()) {
    // No extension typed: take the one of the chosen filter.
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(selected);
    path += QLatin1Char('.') + (m.hasMatch() ? m.captured(1) : QStringLiteral("png"));
  }
  if (!saveImage(path)) {
    Msg::error(this, QStringLiteral("图片保存失败！\n%1").arg(QDir::toNativeSeparators(path)));
    return false;
  }
  return true;
}

bool PlotChart::execPrintDialog() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(QStringLiteral("Untitled"));
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() != QDialog::Accepted)
    return false;
  if (!print(printer)) {
    Msg::error(this, QStringLiteral("打印失败！"));
    return false;
  }
  return true;
}
