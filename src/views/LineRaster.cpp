#include "views/LineRaster.h"

#include "store/PixelLine.h"

#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The part of a-b inside r (as a closed box); false if none.
bool clipTo(QPointF &a, QPointF &b, const QRectF &r) {
  double ax = a.x(), ay = a.y(), bx = b.x(), by = b.y();
  if (!ClipLineToBox(ax, ay, bx, by, r.left(), r.top(), r.right(), r.bottom()))
    return false;
  a = QPointF(ax, ay);
  b = QPointF(bx, by);
  return true;
}

quint32 scaled(quint32 premultiplied, int coverage) {
  const quint32 rb = (premultiplied & 0x00ff00ffu) * quint32(coverage);
  const quint32 ag = ((premultiplied >> 8) & 0x00ff00ffu) * quint32(coverage);
  return ((rb + ((rb >> 8) & 0x00ff00ffu) + 0x00800080u) >> 8 & 0x00ff00ffu) |
         ((ag + ((ag >> 8) & 0x00ff00ffu) + 0x00800080u) & 0xff00ff00u);
}

} // namespace

LineRaster::LineRaster(const QRect &clip, const QColor &color, QImage *target)
    : m_clip(clip.isEmpty() ? QRect() : clip), m_solid(qPremultiply(color.rgba())), m_alpha(color.alpha()) {
  if (m_clip.isEmpty())
    return;
  if (target && target->format() == QImage::Format_ARGB32_Premultiplied) {
    m_target = reinterpret_cast<quint32 *>(target->bits());
    m_stride = target->bytesPerLine() / 4;
    m_clip &= target->rect();
    return;
  }
  m_strips.resize(size_t((m_clip.width() + kStrip - 1) >> kStripShift));
}

// Strip buffers of earlier rasters on this thread, kept zeroed so that a replot neither faults
// in fresh pages nor clears more than it touched.
std::vector<LineRaster::Spare> &LineRaster::spareStrips() {
  static thread_local std::vector<Spare> spare;
  return spare;
}

LineRaster::~LineRaster() {
  std::vector<Spare> &spare = spareStrips();
  for (Strip &s : m_strips) {
    if (!s.pixels || spare.size() >= kSpareStrips)
      continue;
    std::memset(s.pixels.get() + size_t(s.top) * kStrip, 0, sizeof(quint32) * kStrip * size_t(s.bottom - s.top + 1));
    spare.push_back({std::move(s.pixels), s.rows});
  }
}

void LineRaster::allocate(Strip &s, int ly) {
  std::vector<Spare> &spare = spareStrips();
  const auto fits = std::find_if(spare.rbegin(), spare.rend(), [&](const Spare &b) { return b.rows >= m_clip.height(); });
  if (fits == spare.rend()) {
    s.rows = m_clip.height();
    s.pixels = std::make_unique<quint32[]>(size_t(kStrip) * size_t(s.rows)); // zeroed
  } else {
    s.rows = fits->rows;
    s.pixels = std::move(fits->pixels);
    spare.erase(std::next(fits).base());
  }
  s.top = ly;
  s.bottom = ly;
}

void LineRaster::touch(int x0, int x1, int y0, int y1) {
  if (m_target)
    return;
  const int lowRow = std::min(y0, y1) - m_clip.top();
  const int highRow = std::max(y0, y1) - m_clip.top();
  const int first = (std::min(x0, x1) - m_clip.left()) >> kStripShift;
  const int last = (std::max(x0, x1) - m_clip.left()) >> kStripShift;
  for (int i = first; i <= last; ++i) {
    Strip &s = m_strips[size_t(i)];
    if (!s.pixels) {
      allocate(s, lowRow);
      s.bottom = highRow;
      continue;
    }
    s.top = std::min(s.top, lowRow);
    s.bottom = std::max(s.bottom, highRow);
  }
}

// Inside the clip, and touched.
inline quint32 &LineRaster::pixel(int x, int y) {
  if (m_target)
    return m_target[qsizetype(y) * m_stride + x];
  const int lx = x - m_clip.left();
  return m_strips[size_t(lx >> kStripShift)].pixels[size_t(y - m_clip.top()) * kStrip + size_t(lx & (kStrip - 1))];
}

inline void LineRaster::blend(quint32 &d, int coverage) const {
  if (coverage >= 255 && m_alpha == 255) {
    d = m_solid;
    return;
  }
  const quint32 src = scaled(m_solid, std::min(coverage, 255));
  d = src + scaled(d, 255 - int(src >> 24));
}

void LineRaster::span(int x, double y0, double y1) {
  if (y0 > y1)
    std::swap(y0, y1);
  if (x < m_clip.left() || x > m_clip.right())
    return;
  const int first = std::max(m_clip.top(), int(std::floor(y0)));
  const int last = std::min(m_clip.bottom(), int(std::ceil(y1)) - 1);
  if (first > last)
    return;
  touch(x, x, first, last);
  // Only the end rows are partly covered; the rows between take the colour at full coverage.
  const auto edge = [&](int y) {
    const double covered = std::min(y1, double(y + 1)) - std::max(y0, double(y));
    if (const int coverage = std::clamp(int(covered * 255 + 0.5), 0, 255); coverage > 0)
      blend(pixel(x, y), coverage);
  };
  edge(first);
  if (last == first)
    return;
  if (m_target && m_alpha == 255) {
    quint32 *at = m_target + qsizetype(first + 1) * m_stride + x;
    for (int y = first + 1; y < last; ++y, at += m_stride)
      *at = m_solid;
  } else {
    for (int y = first + 1; y < last; ++y)
      blend(pixel(x, y), 255);
  }
  edge(last);
}

void LineRaster::bresenham(QPointF a, QPointF b) {
  // Clipped first to the clip's pixels, [left, right + 1): a join may reach from far outside.
  const QRectF box(m_clip.left(), m_clip.top(), m_clip.width() - 1e-6, m_clip.height() - 1e-6);
  const auto inside = [&](QPointF p) {
    return p.x() >= box.left() && p.x() <= box.right() && p.y() >= box.top() && p.y() <= box.bottom();
  };
  // Most lines of a dense trace lie inside: no clipping to do for those.
  if (!(inside(a) && inside(b)) && !clipTo(a, b, box))
    return;
  const auto column = [&](double v) { return std::clamp(int(std::floor(v)), m_clip.left(), m_clip.right()); };
  const auto row = [&](double v) { return std::clamp(int(std::floor(v)), m_clip.top(), m_clip.bottom()); };
  const int x0 = column(a.x());
  const int y0 = row(a.y());
  const int x1 = column(b.x());
  const int y1 = row(b.y());
  // Every pixel between two inside the clip is inside it, within their columns and rows:
  // those are marked touched once, not per pixel.
  touch(x0, x1, y0, y1);
  WalkPixelLine(x0, y0, x1, y1, [this](int x, int y) {
    blend(pixel(x, y), 255);
    return true;
  });
}

void LineRaster::add(const QLineF &line) {
  if (m_clip.isEmpty() || !std::isfinite(line.x1() + line.y1() + line.x2() + line.y2()))
    return;
  if (line.x1() == line.x2() && std::abs(line.y2() - line.y1()) >= 1.0) {
    const double x = line.x1();
    if (x >= m_clip.left() && x < m_clip.right() + 1)
      span(int(std::floor(x)), line.y1(), line.y2());
    return;
  }
  bresenham(line.p1(), line.p2());
}

void LineRaster::paint(QPainter &painter) const {
  if (m_target || m_strips.empty())
    return; // drawn already
  painter.save();
  painter.resetTransform(); // the clip stays; strips land on whole device pixels
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  for (size_t i = 0; i < m_strips.size(); ++i) {
    const Strip &s = m_strips[i];
    if (!s.pixels)
      continue;
    const QImage strip(reinterpret_cast<const uchar *>(s.pixels.get() + size_t(s.top) * kStrip), kStrip,
                       s.bottom - s.top + 1, kStrip * 4, QImage::Format_ARGB32_Premultiplied);
    painter.drawImage(QPoint(m_clip.left() + int(i) * kStrip, m_clip.top() + s.top), strip);
  }
  painter.restore();
}

bool LineRaster::suits(const QPainter &painter) {
  const QPaintDevice *device = painter.device();
  const QPaintEngine *engine = painter.paintEngine();
  return device && engine && engine->type() == QPaintEngine::Raster && device->devicePixelRatio() == 1 &&
         painter.transform().type() <= QTransform::TxTranslate && painter.opacity() == 1.0 &&
         painter.compositionMode() == QPainter::CompositionMode_SourceOver;
}

QRect LineRaster::deviceClip(const QPainter &painter) {
  const QPaintDevice *device = painter.device();
  QRect all(0, 0, device->width(), device->height());
  if (painter.hasClipping())
    all &= painter.transform().mapRect(painter.clipBoundingRect()).toAlignedRect();
  return all;
}

QImage *LineRaster::directTarget(QPainter &painter) {
  QPaintDevice *device = painter.device();
  if (!device || device->devType() != QInternal::Image)
    return nullptr;
  // Only a plain rectangle of clip: the raster honours no other shape.
  if (painter.hasClipping() && painter.clipRegion().rectCount() > 1)
    return nullptr;
  auto *image = static_cast<QImage *>(device);
  return image->format() == QImage::Format_ARGB32_Premultiplied ? image : nullptr;
}
