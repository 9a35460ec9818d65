#pragma once

#include "store/CurveStore.h"
#include "store/SampleStore.h"
#include "views/MeasureMarkers.h"
#include "views/RunningExtremes.h"
#include "views/ViewGeometry.h"

#include <QColor>
#include <QFont>
#include <QMargins>
#include <QPointF>
#include <QString>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCustomPlot;
class QCPAbstractPlottable;
class QCPAxis;
class QCPCurve;
class QCPGraph;
class QCPItemStraightLine;
class QCPItemText;
class QCPItemTracer;
class QCPTextElement;
class QPrinter;
class MeasureReadoutElement;

enum class ChartAxis : int { X = 0, Y = 1 };
// Graph: points kept sorted by x (a time axis). Curve: points joined in the order they were added,
// so an X/Y plot may run back and forth along the X axis.
enum class TraceKind : int { Graph = 0, Curve = 1 };

inline constexpr int kChannelChartTraces = 5;
inline constexpr int kCompareChartTraces = 11;

// The time and X/Y chart the views are built on: a fixed number of traces over one X and one
// Y axis, a legend, one data cursor, zoom-box mode, picture saving and printing.
//
// A time trace keeps its points in a SampleStore (sorted by x, in the store's own x unit times
// the trace's x scale) and draws, at each replot, only what its pixels can show: the samples
// themselves when few are in view, else per pixel column the span from lowest to highest
// (MakeTracePoints). So a replot costs the same with a thousand points or a billion. An X/Y
// trace keeps its points in a CurveStore (in order of arrival) with running extremes, and
// draws what CurveTracer makes of them for the view: one vertex per pixel cell the line
// enters, each segment once, extended as points arrive while the view stays.
// Adding a point and reading the extremes are O(1) whatever the trace holds. Adding a point never repaints: changes mark the chart dirty and
// one replot follows on a timer (at most kReplotIntervalMs apart), so bursts of samples cost one
// repaint; replotNow() is there for code that must see the picture at once.
//
// Tracking: X tracking (smooth scroll) moves the X axis so that a new point beyond its end sits
// at the right edge; Y tracking (scale min-max) widens the Y axis to include each new value. Both
// act on points added while tracking is on; switching tracking on does not rescale by itself.
class PlotChart : public QWidget {
  Q_OBJECT
public:
  explicit PlotChart(int traceCount, QWidget *parent = nullptr);
  PlotChart(int traceCount, TraceKind kind, QWidget *parent = nullptr);
  ~PlotChart() override;
  PlotChart(const PlotChart &) = delete;
  PlotChart &operator=(const PlotChart &) = delete;

  static constexpr int kReplotIntervalMs = 40;
  // X/Y points not drawn yet (a curve of many millions after a zoom or a resize) are walked in
  // turns of the event loop of at most kCurveBudgetMs each, between the timed replots, which
  // walk for at most kCurveReplotWalkMs and show what the turns drew: the window stays
  // responsive while the curve fills in, and a replot costs its paint alone. replotNow,
  // pictures and prints draw it whole.
  static constexpr int kCurveBudgetMs = 5;
  static constexpr int kCurveReplotWalkMs = 1;
  // Whether an X/Y trace has points not drawn yet (it is filling in).
  [[nodiscard]] bool curveFillingIn() const { return m_curvesBehind; }
  // The least time between the end of one chart's timed replot and the start of another's.
  static constexpr int kReplotSpacingMs = 2;

  // The wrapped plot, for the few things this class does not offer.
  [[nodiscard]] QCustomPlot *plot() const { return m_plot; }

  // ---- repainting
  void requestReplot();
  void replotNow();

  // Dashed horizontal lines at a channel's alarm limits; an unset limit has no line.
  void setLimitLines(std::optional<double> high, std::optional<double> low);
  [[nodiscard]] std::optional<double> limitLine(bool high) const;
  [[nodiscard]] bool replotPending() const { return m_dirty; }
  // While held, changes only mark the chart dirty and the timed replot waits (a long open
  // would otherwise redraw ten growing charts many times a second); released, it follows.
  void setReplotHeld(bool held);

  // ---- chart
  void setBackgroundColor(const QColor &color);
  [[nodiscard]] QColor backgroundColor() const { return m_background; }
  void setTitle(const QString &text);
  [[nodiscard]] QString title() const;
  void setTitleVisible(bool visible);
  [[nodiscard]] bool titleVisible() const { return m_titleVisible; }
  void setTitleColor(const QColor &color);
  [[nodiscard]] QColor titleColor() const;

  // ---- traces; an index outside 0..traceCount()-1 is ignored (getters give empty values)
  [[nodiscard]] int traceCount() const { return static_cast<int>(m_traces.size()); }
  [[nodiscard]] TraceKind traceKind() const { return m_kind; }
  // A point with a non-finite x is dropped (it has no place on the axis); a non-finite y is
  // stored as a gap (NaN): the line breaks there and the extremes skip it.
  void addPoint(int trace, double x, double y);
  // A time trace's point in the store's own x unit, with its record index in a file-backed
  // store (the record must be in the file already); see SampleStore::append.
  void addStoredPoint(int trace, double storeX, double y, qint64 record);
  // Samples were appended to the trace's store directly: tracking and a replot as for
  // added points.
  void traceStoreGrew(int trace);
  // Appends many points at once; with alreadySorted the x values must not decrease.
  void addPoints(int trace, const QVector<double> &x, const QVector<double> &y, bool alreadySorted);
  // Clearing gives the trace a new empty store; a chart sharing the old one keeps it.
  void clearTrace(int trace);
  // Time traces: draw `store` (shared, not copied), its x times xScale on the axis. With
  // snapshot, only the samples it holds now are shown, as if they had been copied.
  void setTraceStore(int trace, std::shared_ptr<SampleStore> store, double xScale = 1, bool snapshot = false);
  [[nodiscard]] std::shared_ptr<SampleStore> traceStore(int trace) const;
  // Whether a time trace draws from a recording file (no shared pointer copied: asked per sample).
  [[nodiscard]] bool traceFileBacked(int trace) const;
  [[nodiscard]] double traceXScale(int trace) const;
  // Bytes an X/Y trace holds in memory (its points' store and what it draws), for the benchmarks.
  [[nodiscard]] qint64 curveMemoryBytes(int trace) const;
  // Multiplies the x of a time trace by factor (a change of the time unit): no point is
  // rewritten.
  void rescaleX(int trace, double factor);
  [[nodiscard]] int pointCount(int trace) const;
  // Point j in x order (the order of arrival on a time axis; for curves the order of arrival
  // whatever x does); NaN when j is out of range.
  [[nodiscard]] double pointX(int trace, int j) const;
  [[nodiscard]] double pointY(int trace, int j) const;
  // Extremes of the points since the last clear (gaps excluded); empty when there are none.
  [[nodiscard]] std::optional<double> minX(int trace) const;
  [[nodiscard]] std::optional<double> maxX(int trace) const;
  [[nodiscard]] std::optional<double> minY(int trace) const;
  [[nodiscard]] std::optional<double> maxY(int trace) const;

  void setTraceColor(int trace, const QColor &color);
  [[nodiscard]] QColor traceColor(int trace) const;
  // Visible: the trace's line is drawn. Markers: a dot at each point. Both are independent, so
  // a trace can show its points without the line.
  void setTraceVisible(int trace, bool visible);
  [[nodiscard]] bool traceVisible(int trace) const;
  void setMarkersVisible(int trace, bool visible);
  [[nodiscard]] bool markersVisible(int trace) const;
  // With more points in view than kMarkersPerPixel per pixel column, only every n-th point gets
  // a marker (the line still joins all points).
  static constexpr int kMarkersPerPixel = 2;
  void setMarkerSize(int trace, double size);
  [[nodiscard]] double markerSize(int trace) const;
  // Legend: entries are titled "1".."N" and listed in trace order; the legend is hidden while
  // no trace is listed.
  void setTraceInLegend(int trace, bool shown);
  [[nodiscard]] bool traceInLegend(int trace) const;
  void setLegendTitle(const QString &text);
  [[nodiscard]] QString legendTitle() const;
  [[nodiscard]] QStringList legendEntries() const;

  // ---- axes
  void setAxisMin(ChartAxis axis, double min);
  [[nodiscard]] double axisMin(ChartAxis axis) const;
  // A span QCustomPlot cannot show (not finite, zero or negative) keeps the previous span.
  void setAxisSpan(ChartAxis axis, double span);
  [[nodiscard]] double axisSpan(ChartAxis axis) const;
  void setAxisRange(ChartAxis axis, double min, double span);
  void setAxisTitle(ChartAxis axis, const QString &text);
  [[nodiscard]] QString axisTitle(ChartAxis axis) const;
  void setAxisTitleColor(ChartAxis axis, const QColor &color);
  void setAxisLabelColor(ChartAxis axis, const QColor &color);
  void setAxisLineColor(ChartAxis axis, const QColor &color);
  // Ticks start at the desired start and step by the desired increment; an increment of 0
  // leaves the step to the axis. The step is chosen again from the visible span at every
  // layout: zoomed out, it grows by whole multiples so that an axis never carries more ticks
  // than kMaxTicks or than its labels have room for; zoomed in, it shrinks to a round step so
  // that at least kMinTicks stay labelled.
  void setDesiredStart(ChartAxis axis, double start);
  [[nodiscard]] double desiredStart(ChartAxis axis) const;
  void setDesiredIncrement(ChartAxis axis, double increment);
  [[nodiscard]] double desiredIncrement(ChartAxis axis) const;
  static constexpr int kMaxTicks = 50;
  static constexpr int kMinTicks = 4;
  // Y tick labels the axis has room for at its last layout, one label height apart.
  [[nodiscard]] int tickLabelRoom(ChartAxis axis) const { return stateOf(axis).labelRoom; }

  // ---- fitting into a short view: while on, every height change chooses with FitChart what
  // the chart shows (title, X axis title, X tick labels, compact margins and fonts); the
  // lowest view of a column keeps its X tick labels. Off, everything is shown.
  void setFitToHeight(bool on, bool lowestInColumn = false);
  [[nodiscard]] ChartFit chartFit() const { return m_fit; }
  // The heights of the chart's parts around the data area, at normal or compact size.
  [[nodiscard]] ChartParts chartParts(bool compact) const;
  void setTracking(ChartAxis axis, bool on);
  [[nodiscard]] bool tracking(ChartAxis axis) const;
  // span *= factor about the centre of the axis; a factor that is not a positive number is ignored.
  void zoom(ChartAxis axis, double factor);
  void zoomX(double factor) { zoom(ChartAxis::X, factor); }
  void zoomY(double factor) { zoom(ChartAxis::Y, factor); }
  // Sets the axis to cover the values of all traces; false (and no change) when no trace holds
  // a point or all values are equal.
  bool zoomToFit(ChartAxis axis);

  // X labels as date and time: keys are seconds since 1970-01-01 UTC shown in UTC, so elapsed
  // seconds read as a time of day. The format is given as the settings store it ("hh:nn:ss").
  void setXDateTimeLabels(bool on, const QString &delphiFormat = QStringLiteral("hh:nn:ss"));
  [[nodiscard]] bool xDateTimeLabels() const { return m_dateTimeLabels; }
  [[nodiscard]] QString xDateTimeFormat() const { return m_dateTimeFormat; }

  // ---- data view
  void setGridColor(const QColor &color);
  void setMinorGridColor(ChartAxis axis, const QColor &color);

  // ---- data cursor (one, index 0): a vertical yellow line at a position given in percent of
  // the data area's width (0 = left edge, 100 = right edge), so it stays put when the axis moves.
  void setCursorVisible(bool visible);
  [[nodiscard]] bool cursorVisible() const { return m_cursorVisible; }
  void setCursorPosition(double percent);
  [[nodiscard]] double cursorPosition() const { return m_cursorPercent; }
  [[nodiscard]] double cursorX() const;
  // The trace's y at the cursor: linear interpolation between the points on either side of the
  // cursor's x; left of the first point the first y, right of the last point the last y; a gap
  // next to the cursor gives the other neighbour. Empty when the trace has no usable point.
  // A curve may pass the cursor's x several times: it gives the y of the point whose x is
  // nearest the cursor (the latest of equally near ones).
  [[nodiscard]] std::optional<double> cursorValue(int trace) const;

  // ---- zoom box: while on, dragging a rectangle over the data area zooms both axes into it
  // and switches both trackings off (otherwise the next sample would undo the zoom).
  void setZoomBoxMode(bool on);
  [[nodiscard]] bool zoomBoxMode() const { return m_zoomBox; }

  // ---- measuring: markers A and B, vertical lines at axis x positions (they keep their time
  // while the view moves), and a readout left of the data area with the statistics of each
  // visible trace between them. While on, a press in the data area grabs a marker within
  // kMarkerGrabPixels, or else places one (A, then B, then the nearer one) and drags it; a
  // placed or dragged marker snaps to a reading within kMarkerSnapPixels. The readout is drawn inside
  // the plot, so pictures and prints show it; Ctrl+C on the chart copies its text.
  void setMeasuring(bool on);
  [[nodiscard]] bool measuring() const { return m_measuring; }
  // Axis x; empty removes the marker.
  void setMarker(MarkerId marker, std::optional<double> x);
  [[nodiscard]] std::optional<double> marker(MarkerId marker) const { return m_markers.position(marker); }
  // The readout as shown (empty while not measuring).
  [[nodiscard]] QString measureReadout() const;
  void copyMeasureReadout() const;
  // How the readout formats: a trace's decimal places, and the time axis's unit.
  void setMeasureFormat(std::function<int(int trace)> decimals, const MeasureTimeUnit &timeUnit);

  // ---- output
  // PNG, JPEG, BMP or PDF by the file's extension (.png, .jpg/.jpeg, .bmp, .pdf); false for
  // another extension or when the file cannot be written.
  [[nodiscard]] bool saveImage(const QString &fileName) const;
  // Renders the chart onto the printer's page, scaled to fit; false when the printer cannot be
  // painted on (no printer, unwritable PDF file).
  [[nodiscard]] bool print(QPrinter &printer) const;
  // The save-image and print commands of the chart's tool bar: ask for a file or a printer,
  // then save or print; a failure is reported to the operator. False when cancelled or failed.
  bool execSaveImageDialog();
  bool execPrintDialog();

signals:
  void doubleClicked();
  void focusEntered();
  void focusLeft();
  // The mouse moved over the X axis, or while dragging it, with these buttons held.
  void xAxisMouseMove(Qt::MouseButtons buttons);
  void dataCursorMoved(int cursorIndex);
  void markersMoved();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void showEvent(QShowEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

private:
  struct Trace {
    QCPGraph *graph = nullptr; // one of the two, by the chart's kind
    QCPCurve *curve = nullptr;
    [[nodiscard]] QCPAbstractPlottable *plottable() const;
    [[nodiscard]] int count() const;
    RunningExtremes extremes; // curves only
    std::unique_ptr<CurveStore> points; // curves only
    mutable CurveTracer tracer;         // curves only: what the curve draws of `points`
    // The cursor's reading of a curve: the nearest point to an x, kept while nothing changes.
    struct Nearest {
      quint64 store = 0;
      qint64 count = -1;
      double x = 0;
      std::optional<CurveStore::Point> point;
    };
    mutable Nearest nearest;
    std::shared_ptr<SampleStore> store; // time traces only
    mutable TracePoints made;           // time traces only: what the last replot made, kept for its memory
    double xScale = 1;
    qint64 limit = -1; // a snapshot of a shared store: its first `limit` samples
    // What the graph's points were made from: the same store, samples, view and width
    // draw the same points, so a repaint of an unchanged trace (a snapshot, a still view)
    // costs nothing.
    struct Drawn {
      const SampleStore *store = nullptr;
      qint64 count = -1;
      qint64 limit = -1;
      double lower = 0;
      double upper = 0;
      double xScale = 0;
      int width = 0;
      bool operator==(const Drawn &) const = default;
    };
    mutable Drawn drawn;
    QColor color;
    bool lineVisible = true;
    bool markers = false;
    double markerSize = 4;
    bool inLegend = false;
  };
  struct AxisState {
    bool tracking = false;
    double desiredStart = 0;
    double desiredIncrement = 0;
    int labelRoom = kMaxTicks;
  };
  // Fonts, paddings and margins of the axes at one size.
  struct FitStyle {
    QFont tickFont;
    QFont labelFont;
    int padding = 0;
    int tickLabelPadding = 0;
    int labelPadding = 0;
    QMargins minMargins;
  };
  enum class DragMode : int { None = 0, PanX = 1, PanY = 2, Cursor = 3, Marker = 4 };

  [[nodiscard]] const Trace *traceAt(int trace) const;
  [[nodiscard]] Trace *traceAt(int trace);
  [[nodiscard]] QCPAxis *axisOf(ChartAxis axis) const;
  [[nodiscard]] AxisState &stateOf(ChartAxis axis) { return m_axes[static_cast<int>(axis)]; }
  [[nodiscard]] const AxisState &stateOf(ChartAxis axis) const { return m_axes[static_cast<int>(axis)]; }
  void applyStyle(Trace &t);
  void applyTicker(ChartAxis axis);
  void installTicker(ChartAxis axis);
  void updateTitleRow();
  void initFitStyles();
  void applyFit();
  void fitTickLabels();
  void thinMarkers();
  // Fills the time traces' graphs with what the current view and width can show. Curves are
  // drawn completely, or else for at most kCurveReplotWalkMs, going on in turns of their own
  // (m_walkTimer, kCurveBudgetMs each).
  void refreshTraceData(bool complete = true) const;
  void refreshCurveData(bool complete, int budgetMs = kCurveReplotWalkMs) const;
  void rebuildLegend();
  void trackAfterAdd(double maxXAdded, std::optional<double> minYAdded, std::optional<double> maxYAdded);
  void updateCursorItems();
  [[nodiscard]] QRect dataRect() const;
  [[nodiscard]] bool overXAxis(const QPointF &pos) const;
  [[nodiscard]] bool overYAxis(const QPointF &pos) const;
  void placeCursorAt(double pixelX);
  // The drawn point a cursor reading of a curve trace comes from.
  [[nodiscard]] std::optional<QPointF> nearestCurvePoint(const Trace &t) const;
  bool handleMouse(QEvent *event);
  // The column of the axis rect in the plot layout: the readout takes column 0 while shown.
  [[nodiscard]] int axisColumn() const { return m_readoutInLayout ? 1 : 0; }
  void buildMeasureItems();
  void updateMeasureItems() const;
  [[nodiscard]] std::vector<MarkerTrace> measureTraces(std::vector<int> *indices = nullptr) const;
  [[nodiscard]] QString buildReadout() const;
  void dragMarkerTo(double pixelX);

  TraceKind m_kind = TraceKind::Graph;
  QCustomPlot *m_plot = nullptr;
  QCPTextElement *m_title = nullptr;
  QCPTextElement *m_legendTitle = nullptr;
  QCPItemStraightLine *m_cursorLine = nullptr;
  QCPItemTracer *m_cursorTracer = nullptr;
  QCPItemText *m_cursorHint = nullptr;
  QCPItemStraightLine *m_highLine = nullptr;
  QCPItemStraightLine *m_lowLine = nullptr;
  std::vector<Trace> m_traces;
  std::array<AxisState, 2> m_axes{};
  QColor m_background = Qt::black;
  bool m_titleVisible = true;
  bool m_titleInLayout = true;
  QString m_xTitle;
  bool m_fitOn = false;
  bool m_fitLowest = false;
  ChartFit m_fit;
  FitStyle m_normalStyle;
  FitStyle m_compactStyle;
  bool m_dateTimeLabels = false;
  QString m_dateTimeFormat = QStringLiteral("hh:nn:ss");
  bool m_cursorVisible = false;
  double m_cursorPercent = 50;
  bool m_zoomBox = false;
  bool m_dirty = false;
  bool m_held = false;
  bool m_drawCompletely = false;
  mutable bool m_curvesBehind = false;
  QTimer m_replotTimer;
  QTimer m_walkTimer; // the next turn of an X/Y curve's filling in
  DragMode m_drag = DragMode::None;
  QPointF m_dragStart;
  double m_dragLower = 0;
  double m_dragUpper = 0;
  MeasureMarkers m_markers;
  bool m_measuring = false;
  bool m_readoutInLayout = false;
  MarkerId m_dragMarker = MarkerId::A;
  std::array<QCPItemStraightLine *, 2> m_markerLines{};
  std::array<QCPItemText *, 2> m_markerLabels{};
  MeasureReadoutElement *m_readout = nullptr;
  std::function<int(int)> m_traceDecimals;
  MeasureTimeUnit m_timeUnit;
};
