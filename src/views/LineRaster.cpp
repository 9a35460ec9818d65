#include "views/LineRaster.h"

#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Liang-Barsky: the part of a-b inside r (as a closed box); false if none.
bool clipTo(QPointF &a, QPointF &b, const QRectF &r) {
  const double dx = b.x() - a.x();
  const double dy = b.y() - a.y();
  double t0 = 0;
  double t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x() - r.left(), r.right() - a.x(), a.y() - r.top(), r.bottom() - a.y()};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0)
        return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0)
      t0 = std::max(t0, t);
    else
      t1 = std::min(t1, t);
    if (t0 > t1)
      return false;
  }
  const QPointF from = a;
  a = QPointF(from.x() + t0 * dx, from.y() + t0 * dy);
  b = QPointF(from.x() + t1 * dx, from.y() + t1 * dy);
  return true;
}

quint32 scaled(quint32 premultiplied, int coverage) {
  const quint32 rb = (premultiplied & 0x00ff00ffu) * quint32(coverage);
  const quint32 ag = ((premultiplied >> 8) & 0x00ff00ffu) * quint32(coverage);
  return ((rb + ((rb >> 8) & 0x00ff00ffu) + 0x00800080u) >> 8 & 0x00ff00ffu) |
         ((ag + ((ag >> 8) & 0x00ff00ffu) + 0x00800080u) & 0xff00ff00u);
}

} // namespace

LineRaster::LineRaster(const QRect &clip, const QColor &color)
    : m_clip(clip), m_solid(qPremultiply(color.rgba())), m_alpha(color.alpha()),
      m_tilesX(clip.isEmpty() ? 0 : ((clip.right() >> kTileShift) - (clip.left() >> kTileShift) + 1)),
      m_tilesY(clip.isEmpty() ? 0 : ((clip.bottom() >> kTileShift) - (clip.top() >> kTileShift) + 1)) {
  m_tiles.resize(size_t(m_tilesX) * size_t(m_tilesY));
}

// Tiles of earlier rasters on this thread, kept so a replot does not fault in fresh pages.
std::vector<std::unique_ptr<quint32[]>> &LineRaster::spareTiles() {
  static thread_local std::vector<std::unique_ptr<quint32[]>> spare;
  return spare;
}

LineRaster::~LineRaster() {
  std::vector<std::unique_ptr<quint32[]>> &spare = spareTiles();
  for (std::unique_ptr<quint32[]> &t : m_tiles)
    if (t && spare.size() < kSpareTiles)
      spare.push_back(std::move(t));
}

quint32 *LineRaster::tileAt(int x, int y) {
  const int tx = (x >> kTileShift) - (m_clip.left() >> kTileShift);
  const int ty = (y >> kTileShift) - (m_clip.top() >> kTileShift);
  std::unique_ptr<quint32[]> &t = m_tiles[size_t(ty) * size_t(m_tilesX) + size_t(tx)];
  if (!t) {
    std::vector<std::unique_ptr<quint32[]>> &spare = spareTiles();
    if (spare.empty()) {
      t = std::make_unique<quint32[]>(kTile * kTile);
    } else {
      t = std::move(spare.back());
      spare.pop_back();
    }
    std::memset(t.get(), 0, sizeof(quint32) * kTile * kTile);
  }
  return t.get() + (y & (kTile - 1)) * kTile + (x & (kTile - 1));
}

void LineRaster::plot(int x, int y, int coverage) {
  if (!m_clip.contains(x, y) || coverage <= 0)
    return;
  quint32 &d = *tileAt(x, y);
  if (coverage >= 255 && m_alpha == 255) {
    d = m_solid;
    return;
  }
  const quint32 s = scaled(m_solid, std::min(coverage, 255));
  d = s + scaled(d, 255 - int(s >> 24));
}

void LineRaster::span(int x, double y0, double y1) {
  if (y0 > y1)
    std::swap(y0, y1);
  if (x < m_clip.left() || x > m_clip.right())
    return;
  const int first = std::max(m_clip.top(), int(std::floor(y0)));
  const int last = std::min(m_clip.bottom(), int(std::ceil(y1)) - 1);
  quint32 *p = nullptr;
  for (int y = first; y <= last; ++y) {
    // One tile lookup per tile row; below it the pixel is a row further on.
    p = (p == nullptr || (y & (kTile - 1)) == 0) ? tileAt(x, y) : p + kTile;
    const double covered = std::min(y1, double(y + 1)) - std::max(y0, double(y));
    if (covered >= 1.0 && m_alpha == 255) {
      *p = m_solid;
      continue;
    }
    const int coverage = std::clamp(int(covered * 255 + 0.5), 0, 255);
    if (coverage == 0)
      continue;
    const quint32 src = scaled(m_solid, coverage);
    *p = src + scaled(*p, 255 - int(src >> 24));
  }
}

void LineRaster::bresenham(QPointF a, QPointF b) {
  // Clipped first: a join may reach from far outside the view.
  const QRectF box(m_clip.left(), m_clip.top(), m_clip.width(), m_clip.height());
  if (!clipTo(a, b, box.adjusted(-1, -1, 1, 1)))
    return;
  int x0 = int(std::floor(a.x()));
  int y0 = int(std::floor(a.y()));
  const int x1 = int(std::floor(b.x()));
  const int y1 = int(std::floor(b.y()));
  const int dx = std::abs(x1 - x0);
  const int dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1;
  const int sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    plot(x0, y0, 255);
    if (x0 == x1 && y0 == y1)
      break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

void LineRaster::add(const QLineF &line) {
  if (!std::isfinite(line.x1() + line.y1() + line.x2() + line.y2()))
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
  painter.save();
  painter.resetTransform(); // the clip stays; tiles land on whole device pixels
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  const int left = (m_clip.left() >> kTileShift) << kTileShift;
  const int top = (m_clip.top() >> kTileShift) << kTileShift;
  for (int ty = 0; ty < m_tilesY; ++ty)
    for (int tx = 0; tx < m_tilesX; ++tx) {
      const std::unique_ptr<quint32[]> &t = m_tiles[size_t(ty) * size_t(m_tilesX) + size_t(tx)];
      if (!t)
        continue;
      const QImage tile(reinterpret_cast<const uchar *>(t.get()), kTile, kTile, kTile * 4,
                        QImage::Format_ARGB32_Premultiplied);
      painter.drawImage(QPoint(left + tx * kTile, top + ty * kTile), tile);
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
