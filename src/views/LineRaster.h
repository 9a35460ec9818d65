#pragma once

#include <QColor>
#include <QLineF>
#include <QRect>

#include <memory>
#include <vector>

class QImage;
class QPainter;

// Strokes 1 px lines of one colour straight into the image painted on, or else into strips of
// the pixels they touch, painted with one drawImage per touched strip. QPainter's cosmetic stroker costs about 0.3 us a line and tens of
// ns a pixel; a chart band of a hundred thousand segments, or ten traces of full pixel columns,
// took tens of milliseconds through it. Here a pixel is a store.
//
// Coordinates are device pixels (pixel k covers [k, k+1)). Vertical lines are antialiased at
// their ends, as the stroker does; other lines are aliased (Bresenham), which in a dense band
// looks the same and in a sparse one is why the chart keeps QPainter for few lines.
class LineRaster {
public:
  // With a target (directTarget), pixels are blended into it at once and paint() does nothing;
  // otherwise they collect in strips that paint() draws.
  LineRaster(const QRect &clip, const QColor &color, QImage *target = nullptr);
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
  // The image painter draws on, where the raster may write straight into it (an image of
  // premultiplied pixels under a rectangular clip), else null. The chart's layers paint on
  // such images (ChartPlot), so no strip has to be composited over them.
  static QImage *directTarget(QPainter &painter);

private:
  // Columns of the clip kStrip pixels wide, each a buffer of the clip's height allocated when
  // first touched, painted over the rows touched only: a zigzag trace touches the pixels near
  // its line, not whole squares around it.
  static constexpr int kStripShift = 4;
  static constexpr int kStrip = 1 << kStripShift;
  struct Strip {
    std::unique_ptr<quint32[]> pixels; // rows of kStrip, at least the clip's height
    int rows = 0;
    int top = 0;
    int bottom = -1; // rows touched, relative to the clip
  };
  static constexpr size_t kSpareStrips = 256;
  struct Spare {
    std::unique_ptr<quint32[]> pixels;
    int rows;
  };
  static std::vector<Spare> &spareStrips();
  void allocate(Strip &s, int ly);
  void touch(int x0, int x1, int y0, int y1);
  quint32 &pixel(int x, int y);
  void blend(quint32 &d, int coverage) const;
  void span(int x, double y0, double y1);
  void bresenham(QPointF a, QPointF b);

  QRect m_clip;
  quint32 m_solid; // the colour, premultiplied
  int m_alpha;
  std::vector<Strip> m_strips;
  quint32 *m_target = nullptr;
  qsizetype m_stride = 0; // pixels per row of the target
};
