#include "views/ChartPlottables.h"

#include "views/LineRaster.h"
#include "views/StrokeLines.h"

#include <cmath>
#include <optional>
#include <vector>

namespace {

constexpr size_t kRasterLines = 4096;

bool strokesAtAll(const QCPPainter *painter) {
  return painter->pen().style() != Qt::NoPen && painter->pen().color().alpha() != 0;
}

// Solid lines on raster output; prints and vector files get the library's joined polylines.
bool batches(const QCPPainter *painter) {
  return painter->pen().style() == Qt::SolidLine && !painter->modes().testFlag(QCPPainter::pmVectorized);
}

// A 1 px pen as a cosmetic one, as the library does: the same look, far faster on raster.
void makeCosmetic(QCPPainter *painter) {
  if (qFuzzyCompare(painter->pen().widthF(), 1.0)) {
    QPen pen = painter->pen();
    pen.setWidth(0);
    painter->setPen(pen);
  }
}

// Where an axis puts a coordinate, as a line: pixel = offset + coordinate * scale.
struct AxisMap {
  double offset;
  double scale;
};

std::optional<AxisMap> linearMap(const QCPAxis *axis) {
  if (!axis || axis->scaleType() != QCPAxis::stLinear)
    return std::nullopt;
  const QCPRange r = axis->range();
  const double from = axis->coordToPixel(r.lower);
  const double to = axis->coordToPixel(r.upper);
  if (!(r.size() > 0) || !std::isfinite(from) || !std::isfinite(to))
    return std::nullopt;
  const double scale = (to - from) / r.size();
  return AxisMap{from - r.lower * scale, scale};
}

void strokeBatched(QCPPainter *painter, const QVector<QPointF> &points, bool columns) {
  makeCosmetic(painter);
  static thread_local std::vector<QLineF> lines;
  lines.clear();
  // Columns land on device pixels only under a plain shift (not on a scaled high-DPI buffer).
  const QTransform &t = painter->transform();
  columns = columns && t.type() <= QTransform::TxTranslate;
  AppendStrokeLines(points.constData(), points.size(), columns, lines, columns ? t.dx() : 0.0);
  if (lines.empty())
    return;
  // Columns, and lines too many to tell apart, go through the raster: the same picture for a
  // fraction of the stroker's time. A few lines keep QPainter's antialiasing.
  const bool many = columns || lines.size() >= kRasterLines;
  if (many && painter->pen().widthF() <= 1.0 && LineRaster::suits(*painter)) {
    LineRaster raster(LineRaster::deviceClip(*painter), painter->pen().color(), LineRaster::directTarget(*painter));
    for (const QLineF &l : lines)
      raster.add(l.translated(t.dx(), t.dy()));
    raster.paint(*painter);
    return;
  }
  painter->drawLines(lines.data(), static_cast<int>(lines.size()));
}

// A layer buffer as QCustomPlot's own pixmap one, held as an image of premultiplied pixels.
class ImagePaintBuffer : public QCPAbstractPaintBuffer {
public:
  ImagePaintBuffer(const QSize &size, double devicePixelRatio) : QCPAbstractPaintBuffer(size, devicePixelRatio) {
    ImagePaintBuffer::reallocateBuffer();
  }
  QCPPainter *startPainting() override { return new QCPPainter(&m_image); }
  void draw(QCPPainter *painter) const override {
    if (painter && painter->isActive())
      painter->drawImage(0, 0, m_image);
  }
  void clear(const QColor &color) override { m_image.fill(color); }

protected:
  void reallocateBuffer() override {
    setInvalidated();
    const bool scaled = !qFuzzyCompare(1.0, mDevicePixelRatio);
    m_image = QImage(scaled ? mSize * mDevicePixelRatio : mSize, QImage::Format_ARGB32_Premultiplied);
    if (scaled)
      m_image.setDevicePixelRatio(mDevicePixelRatio);
  }

private:
  QImage m_image;
};

} // namespace

ChartPlot::ChartPlot(QWidget *parent) : QCustomPlot(parent) {
  // One buffer for the logical layers and one per buffered layer, all images; a buffered layer
  // added later gets the library's pixmap, which the raster paints on through strips.
  int needed = 1;
  for (int i = 0; i < layerCount(); ++i)
    needed += layer(i)->mode() == QCPLayer::lmBuffered ? 1 : 0;
  mPaintBuffers.clear();
  for (int i = 0; i < needed; ++i)
    mPaintBuffers.append(QSharedPointer<QCPAbstractPaintBuffer>(
        new ImagePaintBuffer(viewport().size(), bufferDevicePixelRatio())));
  setupPaintBuffers();
}

void ChartGraph::drawLinePlot(QCPPainter *painter, const QVector<QPointF> &lines) const {
  if (!strokesAtAll(painter))
    return;
  if (!batches(painter) || lineStyle() != lsLine) {
    QCPGraph::drawLinePlot(painter, lines);
    return;
  }
  applyDefaultAntialiasingHint(painter);
  strokeBatched(painter, lines, m_columns && keyAxis() && keyAxis()->orientation() == Qt::Horizontal);
}

void ChartCurve::drawCurveLine(QCPPainter *painter, const QVector<QPointF> &lines) const {
  if (!strokesAtAll(painter))
    return;
  if (!batches(painter)) {
    QCPCurve::drawCurveLine(painter, lines);
    return;
  }
  applyDefaultAntialiasingHint(painter);
  strokeBatched(painter, lines, false);
}

bool ChartCurve::rastersDirectly(const QCPPainter *painter) const {
  // Few vertices keep QPainter's antialiased lines, as the batched stroke does.
  return dataCount() >= static_cast<int>(kRasterLines) && lineStyle() == lsLine && scatterStyle().isNone() &&
         selection().isEmpty() && (brush().style() == Qt::NoBrush || brush().color().alpha() == 0) &&
         pen().style() == Qt::SolidLine && pen().widthF() <= 1.0 && pen().color().alpha() != 0 &&
         !painter->modes().testFlag(QCPPainter::pmVectorized) && keyAxis() && valueAxis() &&
         keyAxis()->orientation() == Qt::Horizontal && valueAxis()->orientation() == Qt::Vertical;
}

void ChartCurve::draw(QCPPainter *painter) {
  const std::optional<AxisMap> mx = linearMap(keyAxis());
  const std::optional<AxisMap> my = linearMap(valueAxis());
  if (!mx || !my || !rastersDirectly(painter)) {
    QCPCurve::draw(painter);
    return;
  }
  painter->setPen(pen());
  painter->setBrush(Qt::NoBrush);
  applyDefaultAntialiasingHint(painter);
  makeCosmetic(painter);
  if (!LineRaster::suits(*painter)) {
    QCPCurve::draw(painter);
    return;
  }
  // Device pixels: the painter's shift (and its half-pixel antialiasing one) folded in.
  const QTransform &t = painter->transform();
  const AxisMap kx{mx->offset + t.dx(), mx->scale};
  const AxisMap ky{my->offset + t.dy(), my->scale};
  LineRaster raster(LineRaster::deviceClip(*painter), painter->pen().color(), LineRaster::directTarget(*painter));
  // A vertex that is not finite (a gap) breaks the line: the raster drops a line touching it.
  QPointF last;
  bool first = true;
  for (auto it = mDataContainer->constBegin(); it != mDataContainer->constEnd(); ++it) {
    const QPointF p(kx.offset + it->key * kx.scale, ky.offset + it->value * ky.scale);
    if (!first)
      raster.add(QLineF(last, p));
    last = p;
    first = false;
  }
  raster.paint(*painter);
}
