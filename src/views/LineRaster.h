#pragma once

#include <QColor>
#include <QLineF>
#include <QRect>

#include <memory>
#include <vector>

class QPainter;

// Strokes 1 px lines of one colour into 64 x 64 tiles of the pixels they touch, painted with one
// drawImage per touched tile. QPainter's cosmetic stroker costs about 0.3 us a line and tens of
// ns a pixel; a chart band of a hundred thousand segments, or ten traces of full pixel columns,
// took tens of milliseconds through it. Here a pixel is a store.
//
// Coordinates are device pixels (pixel k covers [k, k+1)). Vertical lines are antialiased at
// their ends, as the stroker does; other lines are aliased (Bresenham), which in a dense band
// looks the same and in a sparse one is why the chart keeps QPainter for few lines.
class LineRaster {
public:
  LineRaster(const QRect &clip, const QColor &color);
  ~LineRaster();
  LineRaster(const LineRaster &) = delete;
  LineRaster &operator=(const LineRaster &) = delete;
  void add(const QLineF &line);
  // Paints the tiles at device positions, whatever the painter's (translating) transform.
  void paint(QPainter &painter) const;
  // Whether painter, as it is set up, lets its lines be drawn here: a plain shift, full
  // opacity, source-over, a raster device at one device pixel per pixel.
  static bool suits(const QPainter &painter);
  // The device pixels painter may touch.
  static QRect deviceClip(const QPainter &painter);

private:
  static constexpr int kTileShift = 6;
  static constexpr int kTile = 1 << kTileShift;
  static constexpr size_t kSpareTiles = 1024; // 16 MiB at most
  static std::vector<std::unique_ptr<quint32[]>> &spareTiles();
  quint32 *tileAt(int x, int y);
  void plot(int x, int y, int coverage);
  void span(int x, double y0, double y1);
  void bresenham(QPointF a, QPointF b);

  QRect m_clip;
  quint32 m_solid;   // the colour, premultiplied
  int m_alpha;
  int m_tilesX;
  int m_tilesY;
  std::vector<std::unique_ptr<quint32[]>> m_tiles;
};
