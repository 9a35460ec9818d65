#include "views/PlotChart.h"

#include "views/ChartPlottables.h"
#include "views/DateTimeFormat.h"
#include "views/ViewGeometry.h"
#include "views/WinColor.h"

#include <QElapsedTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <system_error>

namespace {

// Ticks at desiredStart + k * step, the step chosen from the visible span on every layout (see
// AxisTickStep): at least kMinTicks labelled ticks when zoomed in, at most as many as the axis
// has room for when zoomed out.
class DesiredStepTicker : public QCPAxisTicker {
public:
  DesiredStepTicker(double step, const int *room) : m_step(step), m_room(room) {}

protected:
  double getTickStep(const QCPRange &range) override {
    return AxisTickStep(range.lower, range.upper, tickOrigin(), m_step, PlotChart::kMinTicks, *m_room);
  }

private:
  double m_step;
  const int *m_room; // the chart's current room for labels on this axis
};

// Default trace colours: red, yellow, 4259584 (BGR), fuchsia, aqua, blue, lime, white, maroon,
// green, olive; the views recolour the traces they use.
QColor defaultTraceColor(int index) {
  static constexpr std::array<int, 11> kColors{0x0000FF, 0x00FFFF, 4259584,  0xFF00FF,
                                               0xFFFF00, 0xFF0000, 0x00FF00, 0xFFFFFF,
                                               0x000080, 0x008000, 0x008080};
  return ColorFromWin(kColors[static_cast<size_t>(index) % kColors.size()]);
}

} // namespace

PlotChart::PlotChart(int traceCount, QWidget *parent) : PlotChart(traceCount, TraceKind::Graph, parent) {}

PlotChart::PlotChart(int traceCount, TraceKind kind, QWidget *parent) : QWidget(parent), m_kind(kind) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  m_plot = new ChartPlot(this);
  // Separate lines rather than polylines where the library strokes them itself; the traces
  // stroke theirs in one call each (ChartGraph, ChartCurve).
  m_plot->setPlottingHint(QCP::phFastPolylines, true);
  layout->addWidget(m_plot);
  setFocusProxy(m_plot);
  m_plot->setFocusPolicy(Qt::StrongFocus);
  m_plot->installEventFilter(this);

  m_title = new QCPTextElement(m_plot, QString(), QFont(font().family(), 11, QFont::Bold));
  m_plot->plotLayout()->insertRow(0);
  m_plot->plotLayout()->addElement(0, 0, m_title);

  m_plot->legend->setVisible(false);
  m_legendTitle = new QCPTextElement(m_plot, QString(), QFont(font().family(), 9, QFont::Bold));
  m_plot->legend->insertRow(0);
  m_plot->legend->addElement(0, 0, m_legendTitle);
  m_legendTitle->setLayer(m_plot->legend->layer());
  m_plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);

  const int count = qMax(0, traceCount);
  m_traces.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    Trace &t = m_traces[static_cast<size_t>(i)];
    if (kind == TraceKind::Curve) {
      t.curve = new ChartCurve(m_plot->xAxis, m_plot->yAxis);
      t.points = std::make_unique<CurveStore>();
    } else {
      t.graph = new ChartGraph(m_plot->xAxis, m_plot->yAxis);
      // What it is given is thinned to the pixels already (MakeTracePoints).
      t.graph->setAdaptiveSampling(false);
      t.store = std::make_shared<SampleStore>();
    }
    t.plottable()->setName(QString::number(i + 1));
    t.plottable()->removeFromLegend();
    t.color = defaultTraceColor(i);
    applyStyle(t);
  }

  m_plot->addLayer(QStringLiteral("cursor"), m_plot->layer(QStringLiteral("main")), QCustomPlot::limAbove);
  m_cursorLine = new QCPItemStraightLine(m_plot);
  m_cursorTracer = new QCPItemTracer(m_plot);
  m_cursorHint = new QCPItemText(m_plot);
  for (QCPAbstractItem *item : {static_cast<QCPAbstractItem *>(m_cursorLine),
                                static_cast<QCPAbstractItem *>(m_cursorTracer),
                                static_cast<QCPAbstractItem *>(m_cursorHint)}) {
    item->setLayer(QStringLiteral("cursor"));
    item->setVisible(false);
    item->setClipToAxisRect(true);
  }
  m_cursorLine->setPen(QPen(Qt::yellow, 1));
  m_cursorLine->point1->setType(QCPItemPosition::ptAxisRectRatio);
  m_cursorLine->point2->setType(QCPItemPosition::ptAxisRectRatio);
  m_cursorTracer->setStyle(QCPItemTracer::tsCircle);
  m_cursorTracer->setSize(7);
  m_cursorTracer->setInterpolating(true);
  m_cursorHint->position->setType(QCPItemPosition::ptAxisRectRatio);
  m_cursorHint->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_cursorHint->setPadding(QMargins(3, 2, 3, 2));
  m_cursorHint->setBrush(QBrush(QColor(0, 0, 0, 160)));
  buildMeasureItems();
  connect(m_plot, &QCustomPlot::beforeReplot, this, [this] {
    refreshTraceData(m_drawCompletely);
    if (m_curvesBehind && !m_walkTimer.isActive())
      m_walkTimer.start(); // the rest in turns of its own
    thinMarkers();
    if (m_cursorVisible)
      updateCursorItems();
    if (m_measuring)
      updateMeasureItems();
  });

  // The zoom box zooms both axes; tracking would pull them back with the next sample.
  connect(m_plot->selectionRect(), &QCPSelectionRect::accepted, this, [this] {
    if (m_zoomBox) {
      stateOf(ChartAxis::X).tracking = false;
      stateOf(ChartAxis::Y).tracking = false;
    }
  });

  m_plot->xAxis->setRange(0, 10);
  m_plot->yAxis->setRange(0, 50);
  initFitStyles();
  // A layout may change the room for Y labels; the ticks follow before anything is drawn.
  connect(m_plot, &QCustomPlot::afterLayout, this, [this] { fitTickLabels(); });
  setBackgroundColor(Qt::black);
  setTitleColor(Qt::white);
  for (ChartAxis a : {ChartAxis::X, ChartAxis::Y}) {
    setAxisTitleColor(a, Qt::white);
    setAxisLabelColor(a, Qt::white);
    setAxisLineColor(a, Qt::white);
    setMinorGridColor(a, Qt::gray);
  }
  setGridColor(Qt::gray);

  m_walkTimer.setSingleShot(true);
  m_walkTimer.setInterval(0);
  connect(&m_walkTimer, &QTimer::timeout, this, [this] {
    if (!m_curvesBehind)
      return;
    // Hidden or held, the walk waits: the chart stays due, and its replot (when shown again or
    // let go) walks on.
    if (m_held || !isVisible()) {
      requestReplot();
      return;
    }
    refreshCurveData(false, kCurveBudgetMs);
    requestReplot(); // what this turn drew shows at the next timed replot
    if (m_curvesBehind)
      m_walkTimer.start();
  });
  m_replotTimer.setSingleShot(true);
  m_replotTimer.setInterval(kReplotIntervalMs);
  connect(&m_replotTimer, &QTimer::timeout, this, [this] {
    if (!m_dirty || m_held)
      return;
    // A hidden chart (another tab page) replots when it is shown again.
    if (!isVisible())
      return;
    // Charts fed by the same batch fall due together; replotted in one go, ten charts of a
    // million points each held the UI thread for tens of milliseconds. Spaced out, input and
    // other timers are served between two charts.
    static thread_local QElapsedTimer lastReplotEnd;
    if (lastReplotEnd.isValid() && lastReplotEnd.elapsed() < kReplotSpacingMs) {
      m_replotTimer.start(kReplotSpacingMs);
      return;
    }
    m_dirty = false;
    m_plot->replot();
    lastReplotEnd.start();
  });
}

PlotChart::~PlotChart() = default;

// ---- repainting

void PlotChart::requestReplot() {
  m_dirty = true;
  if (!m_replotTimer.isActive())
    m_replotTimer.start(kReplotIntervalMs);
}

void PlotChart::setReplotHeld(bool held) {
  m_held = held;
  if (!held && m_dirty)
    requestReplot();
}

void PlotChart::replotNow() {
  m_replotTimer.stop();
  m_dirty = false;
  m_drawCompletely = true;
  m_plot->replot(QCustomPlot::rpImmediateRefresh);
  m_drawCompletely = false;
}

void PlotChart::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  if (m_dirty)
    requestReplot();
}

// ---- chart

void PlotChart::setBackgroundColor(const QColor &color) {
  m_background = color;
  m_plot->setBackground(QBrush(color));
  m_plot->legend->setBrush(QBrush(color));
  requestReplot();
}

void PlotChart::setTitle(const QString &text) {
  m_title->setText(text);
  requestReplot();
}

QString PlotChart::title() const { return m_title->text(); }

void PlotChart::setTitleVisible(bool visible) {
  if (visible == m_titleVisible)
    return;
  m_titleVisible = visible;
  updateTitleRow();
  requestReplot();
}

void PlotChart::updateTitleRow() {
  const bool shown = m_titleVisible && m_fit.title;
  if (shown == m_titleInLayout)
    return;
  m_titleInLayout = shown;
  // An invisible layout element still takes its row; take the row out instead.
  QCPLayoutGrid *grid = m_plot->plotLayout();
  if (shown) {
    grid->insertRow(0);
    grid->addElement(0, axisColumn(), m_title);
  } else {
    grid->take(m_title);
    grid->simplify();
  }
}

void PlotChart::setTitleColor(const QColor &color) {
  m_title->setTextColor(color);
  m_legendTitle->setTextColor(color);
  m_plot->legend->setTextColor(color);
  m_plot->legend->setBorderPen(QPen(color));
  requestReplot();
}

QColor PlotChart::titleColor() const { return m_title->textColor(); }

// ---- traces

QCPAbstractPlottable *PlotChart::Trace::plottable() const {
  return graph ? static_cast<QCPAbstractPlottable *>(graph) : curve;
}

int PlotChart::Trace::count() const {
  if (!graph)
    return static_cast<int>(std::min<qint64>(points->count(), std::numeric_limits<int>::max()));
  const qint64 n = limit < 0 ? store->count() : std::min(limit, store->count());
  return static_cast<int>(std::min<qint64>(n, std::numeric_limits<int>::max()));
}

const PlotChart::Trace *PlotChart::traceAt(int trace) const {
  return trace >= 0 && trace < traceCount() ? &m_traces[static_cast<size_t>(trace)] : nullptr;
}

PlotChart::Trace *PlotChart::traceAt(int trace) {
  return trace >= 0 && trace < traceCount() ? &m_traces[static_cast<size_t>(trace)] : nullptr;
}

void PlotChart::addPoint(int trace, double x, double y) {
  Trace *t = traceAt(trace);
  if (!t || !std::isfinite(x))
    return;
  if (!std::isfinite(y))
    y = std::numeric_limits<double>::quiet_NaN();
  if (t->graph) {
    t->store->append(x / t->xScale, y);
  } else {
    t->points->append(x, y);
    t->extremes.add(x, y);
  }
  trackAfterAdd(x, std::isfinite(y) ? std::optional(y) : std::nullopt,
                std::isfinite(y) ? std::optional(y) : std::nullopt);
  requestReplot();
}

void PlotChart::addStoredPoint(int trace, double storeX, double y, qint64 record) {
  Trace *t = traceAt(trace);
  if (!t || !t->graph || !std::isfinite(storeX))
    return;
  t->store->append(storeX, y, record);
  const std::optional<double> v = std::isfinite(y) ? std::optional(y) : std::nullopt;
  trackAfterAdd(storeX * t->xScale, v, v);
  requestReplot();
}

void PlotChart::traceStoreGrew(int trace) {
  Trace *t = traceAt(trace);
  if (!t || !t->graph)
    return;
  if (const auto mx = t->store->maxX()) {
    trackAfterAdd(*mx * t->xScale, t->store->minY(), t->store->maxY());
    requestReplot();
  }
}

void PlotChart::addPoints(int trace, const QVector<double> &x, const QVector<double> &y,
                          bool alreadySorted) {
  Q_UNUSED(alreadySorted) // the store finds out itself, in the same pass
  Trace *t = traceAt(trace);
  if (!t)
    return;
  const qsizetype n = qMin(x.size(), y.size());
  const double *xp = x.constData();
  const double *yp = y.constData();
  RunningExtremes batch;
  for (qsizetype i = 0; i < n; ++i)
    batch.add(xp[i], std::isfinite(yp[i]) ? yp[i] : std::numeric_limits<double>::quiet_NaN());
  if (!batch.maxX())
    return;
  if (t->graph) {
    if (t->xScale == 1) {
      t->store->append(xp, yp, n);
    } else {
      std::vector<double> scaled(xp, xp + n);
      for (double &v : scaled)
        v /= t->xScale;
      t->store->append(scaled.data(), yp, n);
    }
  } else {
    for (qsizetype i = 0; i < n; ++i) {
      if (!std::isfinite(xp[i]))
        continue;
      const double v = std::isfinite(yp[i]) ? yp[i] : std::numeric_limits<double>::quiet_NaN();
      t->points->append(xp[i], v);
      t->extremes.add(xp[i], v);
    }
  }
  trackAfterAdd(*batch.maxX(), batch.minY(), batch.maxY());
  requestReplot();
}

void PlotChart::clearTrace(int trace) {
  Trace *t = traceAt(trace);
  if (!t)
    return;
  if (t->graph) {
    // A fresh store rather than clearing: another chart may be drawing the old one.
    t->store = std::make_shared<SampleStore>();
    t->limit = -1;
    t->graph->data()->clear();
  } else {
    t->points->clear();
    t->tracer.reset();
    t->curve->data()->clear();
  }
  t->extremes.reset();
  requestReplot();
}

void PlotChart::setTraceStore(int trace, std::shared_ptr<SampleStore> store, double xScale, bool snapshot) {
  Trace *t = traceAt(trace);
  if (!t || !t->graph || !store || !std::isfinite(xScale) || xScale <= 0)
    return;
  t->limit = snapshot ? store->count() : -1;
  t->store = std::move(store);
  t->drawn = {};
  t->xScale = xScale;
  requestReplot();
}

std::shared_ptr<SampleStore> PlotChart::traceStore(int trace) const {
  const Trace *t = traceAt(trace);
  return t ? t->store : nullptr;
}

bool PlotChart::traceFileBacked(int trace) const {
  const Trace *t = traceAt(trace);
  return t && t->store && t->store->fileBacked();
}

double PlotChart::traceXScale(int trace) const {
  const Trace *t = traceAt(trace);
  return t ? t->xScale : 1;
}

qint64 PlotChart::curveMemoryBytes(int trace) const {
  const Trace *t = traceAt(trace);
  if (!t || !t->curve)
    return 0;
  return t->points->memoryBytes() + t->curve->dataCount() * static_cast<qint64>(sizeof(QCPCurveData)) +
         t->tracer.memoryBytes();
}

void PlotChart::rescaleX(int trace, double factor) {
  Trace *t = traceAt(trace);
  if (!t || !t->graph || !std::isfinite(factor) || factor <= 0)
    return;
  t->xScale *= factor;
  requestReplot();
}

int PlotChart::pointCount(int trace) const {
  const Trace *t = traceAt(trace);
  return t ? t->count() : 0;
}

double PlotChart::pointX(int trace, int j) const {
  const Trace *t = traceAt(trace);
  if (!t || j < 0 || j >= t->count())
    return std::numeric_limits<double>::quiet_NaN();
  return t->graph ? t->store->x(j) * t->xScale : t->points->at(j).x;
}

double PlotChart::pointY(int trace, int j) const {
  const Trace *t = traceAt(trace);
  if (!t || j < 0 || j >= t->count())
    return std::numeric_limits<double>::quiet_NaN();
  return t->graph ? t->store->y(j) : t->points->at(j).y;
}

namespace {
// The y extremes of a time trace: the store's own, or summed up over a snapshot's samples.
std::optional<double> storeY(const SampleStore &s, qint64 limit, bool max) {
  if (limit < 0 || limit >= s.count())
    return max ? s.maxY() : s.minY();
  const SampleStore::Stats st = s.stats(0, limit, true);
  if (!st.hasValue())
    return std::nullopt;
  return max ? st.max : st.min;
}
} // namespace

std::optional<double> PlotChart::minX(int trace) const {
  const Trace *t = traceAt(trace);
  if (!t)
    return std::nullopt;
  if (!t->graph)
    return t->extremes.minX();
  return t->count() > 0 ? std::optional(t->store->x(0) * t->xScale) : std::nullopt;
}

std::optional<double> PlotChart::maxX(int trace) const {
  const Trace *t = traceAt(trace);
  if (!t)
    return std::nullopt;
  if (!t->graph)
    return t->extremes.maxX();
  const int n = t->count();
  return n > 0 ? std::optional(t->store->x(n - 1) * t->xScale) : std::nullopt;
}

std::optional<double> PlotChart::minY(int trace) const {
  const Trace *t = traceAt(trace);
  if (!t)
    return std::nullopt;
  return t->graph ? storeY(*t->store, t->limit, false) : t->extremes.minY();
}

std::optional<double> PlotChart::maxY(int trace) const {
  const Trace *t = traceAt(trace);
  if (!t)
    return std::nullopt;
  return t->graph ? storeY(*t->store, t->limit, true) : t->extremes.maxY();
}

void PlotChart::refreshCurveData(bool complete, int budgetMs) const {
  const auto deadline = complete ? CurveTracer::Clock::time_point::max()
                                 : CurveTracer::Clock::now() + std::chrono::milliseconds(budgetMs);
  m_curvesBehind = false;
  const QCPRange rx = m_plot->xAxis->range();
  const QCPRange ry = m_plot->yAxis->range();
  const CurveTracer::View view{rx.lower, rx.upper, ry.lower, ry.upper, qMax(1, m_plot->axisRect()->width()),
                               qMax(1, m_plot->axisRect()->height())};
  std::vector<CurveStore::Point> added;
  for (const Trace &t : m_traces) {
    if (!t.curve)
      continue;
    if (!t.plottable()->visible() || t.points->count() == 0) {
      t.curve->data()->clear();
      t.tracer.reset();
      continue;
    }
    const bool anew = t.tracer.update(*t.points, view, added, deadline);
    if (!t.tracer.caughtUp(*t.points))
      m_curvesBehind = true;
    if (anew)
      t.curve->data()->clear();
    if (added.empty())
      continue;
    // The curve orders its vertices by a running index: the new ones follow the old.
    QCPCurveDataContainer &d = *t.curve->data();
    const double first = d.isEmpty() ? 0 : (d.constEnd() - 1)->t + 1;
    QVector<QCPCurveData> vertices(static_cast<qsizetype>(added.size()));
    for (size_t k = 0; k < added.size(); ++k)
      vertices[static_cast<qsizetype>(k)] = QCPCurveData(first + static_cast<double>(k), added[k].x, added[k].y);
    d.add(vertices, true);
  }
}

void PlotChart::refreshTraceData(bool complete) const {
  if (m_kind == TraceKind::Curve) {
    refreshCurveData(complete);
    return;
  }
  const int width = qMax(1, m_plot->axisRect()->width());
  const QCPRange r = m_plot->xAxis->range();
  // The traces whose points must be made anew.
  std::vector<const Trace *> due;
  for (const Trace &t : m_traces) {
    if (!t.graph)
      continue;
    if (!t.plottable()->visible() || t.count() == 0) {
      t.graph->data()->clear();
      t.drawn = {};
      continue;
    }
    const Trace::Drawn now{t.store.get(), t.store->count(), t.limit, r.lower, r.upper, t.xScale, width};
    if (now == t.drawn)
      continue;
    t.drawn = now;
    due.push_back(&t);
  }
  const auto make = [&](size_t i) {
    const Trace &t = *due[i];
    MakeTracePoints(*t.store, r.lower / t.xScale, r.upper / t.xScale, width, t.limit, t.made);
  };
  // A chart of many traces (the comparison) makes them on two threads. A store is read by one
  // thread only, and only while this thread waits: traces sharing a store stay together.
  std::vector<size_t> first, second;
  const auto holds = [&](const std::vector<size_t> &list, size_t i) {
    return std::any_of(list.begin(), list.end(), [&](size_t j) { return due[j]->store == due[i]->store; });
  };
  for (size_t i = 0; i < due.size(); ++i) {
    if (holds(first, i))
      first.push_back(i);
    else if (holds(second, i))
      second.push_back(i);
    else
      (first.size() <= second.size() ? first : second).push_back(i);
  }
  const auto makeAll = [&](const std::vector<size_t> &list) {
    for (size_t i : list)
      make(i);
  };
  std::future<void> other;
  if (!second.empty()) {
    try {
      other = std::async(std::launch::async, [&] { makeAll(second); });
    } catch (const std::system_error &) {
      makeAll(second); // no thread to be had: all on this one
    }
  }
  makeAll(first);
  if (other.valid())
    other.get();
  for (size_t i = 0; i < due.size(); ++i) {
    const Trace &t = *due[i];
    const TracePoints &tp = t.made;
    QVector<QCPGraphData> points(static_cast<qsizetype>(tp.x.size()));
    for (size_t k = 0; k < tp.x.size(); ++k)
      points[static_cast<qsizetype>(k)] = QCPGraphData(tp.x[k] * t.xScale, tp.y[k]);
    t.graph->data()->set(points, true);
    static_cast<ChartGraph *>(t.graph)->setColumns(!tp.raw);
  }
}

void PlotChart::applyStyle(Trace &t) {
  const QCPScatterStyle scatter = t.markers ? QCPScatterStyle(QCPScatterStyle::ssDisc, t.color, t.color, t.markerSize)
                                            : QCPScatterStyle(QCPScatterStyle::ssNone);
  if (t.graph) {
    t.graph->setLineStyle(t.lineVisible ? QCPGraph::lsLine : QCPGraph::lsNone);
    t.graph->setScatterStyle(scatter);
  } else {
    t.curve->setLineStyle(t.lineVisible ? QCPCurve::lsLine : QCPCurve::lsNone);
    t.curve->setScatterStyle(scatter);
  }
  t.plottable()->setPen(QPen(t.color, 1));
  t.plottable()->setVisible(t.lineVisible || t.markers);
  requestReplot();
}

void PlotChart::thinMarkers() {
  // Markers closer than a pixel only paint a band the line already shows, and painting each of
  // millions of them would stall the replot; draw at most kMarkersPerPixel per pixel column.
  const int width = qMax(1, m_plot->axisRect()->width());
  const QCPRange r = m_plot->xAxis->range();
  for (Trace &t : m_traces) {
    if (!t.markers || !t.plottable()->visible())
      continue;
    const qint64 limit = qint64(width) * kMarkersPerPixel;
    if (t.graph) {
      // The graph holds what is drawn (refreshTraceData): at most a few points per column.
      const QCPGraphDataContainer &d = *t.graph->data();
      const auto inView = d.findEnd(r.upper) - d.findBegin(r.lower);
      t.graph->setScatterSkip(inView > limit ? static_cast<int>((inView + limit - 1) / limit) - 1 : 0);
    } else {
      // A curve is not sorted by x: thin by the vertices it draws.
      const qint64 all = t.curve->dataCount();
      t.curve->setScatterSkip(all > limit ? static_cast<int>((all + limit - 1) / limit) - 1 : 0);
    }
  }
}

void PlotChart::setTraceColor(int trace, const QColor &color) {
  if (Trace *t = traceAt(trace)) {
    t->color = color;
    applyStyle(*t);
  }
}

QColor PlotChart::traceColor(int trace) const {
  const Trace *t = traceAt(trace);
  return t ? t->color : QColor();
}

void PlotChart::setTraceVisible(int trace, bool visible) {
  if (Trace *t = traceAt(trace)) {
    t->lineVisible = visible;
    applyStyle(*t);
  }
}

bool PlotChart::traceVisible(int trace) const {
  const Trace *t = traceAt(trace);
  return t && t->lineVisible;
}

void PlotChart::setMarkersVisible(int trace, bool visible) {
  if (Trace *t = traceAt(trace)) {
    t->markers = visible;
    applyStyle(*t);
  }
}

bool PlotChart::markersVisible(int trace) const {
  const Trace *t = traceAt(trace);
  return t && t->markers;
}

void PlotChart::setMarkerSize(int trace, double size) {
  Trace *t = traceAt(trace);
  if (t && size > 0) {
    t->markerSize = size;
    applyStyle(*t);
  }
}

double PlotChart::markerSize(int trace) const {
  const Trace *t = traceAt(trace);
  return t ? t->markerSize : 0;
}

void PlotChart::setTraceInLegend(int trace, bool shown) {
  Trace *t = traceAt(trace);
  if (!t || t->inLegend == shown)
    return;
  t->inLegend = shown;
  rebuildLegend();
}

bool PlotChart::traceInLegend(int trace) const {
  const Trace *t = traceAt(trace);
  return t && t->inLegend;
}

void PlotChart::rebuildLegend() {
  // Rebuilt in trace order, whatever order the traces were listed in.
  m_plot->legend->clearItems();
  bool any = false;
  for (Trace &t : m_traces) {
    if (t.inLegend) {
      t.plottable()->addToLegend();
      any = true;
    }
  }
  m_plot->legend->setVisible(any);
  requestReplot();
}

void PlotChart::setLegendTitle(const QString &text) {
  m_legendTitle->setText(text);
  requestReplot();
}

QString PlotChart::legendTitle() const { return m_legendTitle->text(); }

QStringList PlotChart::legendEntries() const {
  QStringList names;
  if (!m_plot->legend->visible())
    return names;
  for (int i = 0; i < m_plot->legend->itemCount(); ++i) {
    if (auto *item = qobject_cast<QCPPlottableLegendItem *>(m_plot->legend->item(i)))
      names << item->plottable()->name();
  }
  return names;
}

// ---- axes

QCPAxis *PlotChart::axisOf(ChartAxis axis) const {
  return axis == ChartAxis::X ? m_plot->xAxis : m_plot->yAxis;
}

void PlotChart::setAxisMin(ChartAxis axis, double min) {
  QCPAxis *a = axisOf(axis);
  if (!std::isfinite(min))
    return;
  a->setRange(min, min + a->range().size());
  requestReplot();
}

double PlotChart::axisMin(ChartAxis axis) const { return axisOf(axis)->range().lower; }

void PlotChart::setAxisSpan(ChartAxis axis, double span) {
  QCPAxis *a = axisOf(axis);
  const double lower = a->range().lower;
  if (!std::isfinite(span) || span <= 0 || !QCPRange::validRange(lower, lower + span))
    return;
  a->setRange(lower, lower + span);
  requestReplot();
}

double PlotChart::axisSpan(ChartAxis axis) const { return axisOf(axis)->range().size(); }

void PlotChart::setAxisRange(ChartAxis axis, double min, double span) {
  setAxisMin(axis, min);
  setAxisSpan(axis, span);
}

void PlotChart::setAxisTitle(ChartAxis axis, const QString &text) {
  if (axis == ChartAxis::X) {
    m_xTitle = text;
    m_plot->xAxis->setLabel(m_fit.xAxisTitle ? text : QString());
  } else {
    m_plot->yAxis->setLabel(text);
  }
  requestReplot();
}

QString PlotChart::axisTitle(ChartAxis axis) const {
  return axis == ChartAxis::X ? m_xTitle : m_plot->yAxis->label();
}

void PlotChart::setAxisTitleColor(ChartAxis axis, const QColor &color) {
  axisOf(axis)->setLabelColor(color);
  requestReplot();
}

void PlotChart::setAxisLabelColor(ChartAxis axis, const QColor &color) {
  axisOf(axis)->setTickLabelColor(color);
  requestReplot();
}

void PlotChart::setAxisLineColor(ChartAxis axis, const QColor &color) {
  QCPAxis *a = axisOf(axis);
  a->setBasePen(QPen(color));
  a->setTickPen(QPen(color));
  a->setSubTickPen(QPen(color));
  requestReplot();
}

void PlotChart::setDesiredStart(ChartAxis axis, double start) {
  if (!std::isfinite(start))
    return;
  stateOf(axis).desiredStart = start;
  applyTicker(axis);
}

double PlotChart::desiredStart(ChartAxis axis) const { return stateOf(axis).desiredStart; }

void PlotChart::setDesiredIncrement(ChartAxis axis, double increment) {
  stateOf(axis).desiredIncrement = std::isfinite(increment) && increment > 0 ? increment : 0;
  applyTicker(axis);
}

double PlotChart::desiredIncrement(ChartAxis axis) const { return stateOf(axis).desiredIncrement; }

void PlotChart::applyTicker(ChartAxis axis) {
  installTicker(axis);
  requestReplot();
}

void PlotChart::installTicker(ChartAxis axis) {
  const AxisState &s = stateOf(axis);
  QSharedPointer<QCPAxisTicker> ticker;
  if (axis == ChartAxis::X && m_dateTimeLabels) {
    auto dt = QSharedPointer<QCPAxisTickerDateTime>::create();
    dt->setDateTimeFormat(QtDateTimeFormat(m_dateTimeFormat));
    dt->setDateTimeSpec(Qt::UTC);
    ticker = dt;
  } else if (s.desiredIncrement > 0) {
    ticker = QSharedPointer<DesiredStepTicker>::create(s.desiredIncrement, &s.labelRoom);
    ticker->setTickOrigin(s.desiredStart);
  } else {
    ticker = QSharedPointer<QCPAxisTicker>::create();
    ticker->setTickOrigin(s.desiredStart);
  }
  // The toolkit's own tickers aim at about five ticks; fewer when the axis is short.
  ticker->setTickCount(std::clamp(s.labelRoom - 1, 1, 5));
  axisOf(axis)->setTicker(ticker);
}

void PlotChart::setTracking(ChartAxis axis, bool on) { stateOf(axis).tracking = on; }

bool PlotChart::tracking(ChartAxis axis) const { return stateOf(axis).tracking; }

void PlotChart::trackAfterAdd(double maxXAdded, std::optional<double> minYAdded,
                              std::optional<double> maxYAdded) {
  if (stateOf(ChartAxis::X).tracking) {
    const QCPRange r = m_plot->xAxis->range();
    if (maxXAdded > r.upper)
      m_plot->xAxis->setRange(maxXAdded - r.size(), maxXAdded);
  }
  if (stateOf(ChartAxis::Y).tracking && minYAdded && maxYAdded) {
    const QCPRange r = m_plot->yAxis->range();
    const double lower = qMin(r.lower, *minYAdded);
    const double upper = qMax(r.upper, *maxYAdded);
    if ((lower != r.lower || upper != r.upper) && QCPRange::validRange(lower, upper))
      m_plot->yAxis->setRange(lower, upper);
  }
}

void PlotChart::zoom(ChartAxis axis, double factor) {
  if (!std::isfinite(factor) || factor <= 0)
    return;
  QCPAxis *a = axisOf(axis);
  const QCPRange r = a->range();
  const double span = r.size() * factor;
  const double lower = r.center() - span / 2;
  if (!QCPRange::validRange(lower, lower + span))
    return;
  a->setRange(lower, lower + span);
  requestReplot();
}

bool PlotChart::zoomToFit(ChartAxis axis) {
  std::optional<double> lo;
  std::optional<double> hi;
  for (int i = 0; i < traceCount(); ++i) {
    const auto tlo = axis == ChartAxis::X ? minX(i) : minY(i);
    const auto thi = axis == ChartAxis::X ? maxX(i) : maxY(i);
    if (tlo)
      lo = lo ? qMin(*lo, *tlo) : *tlo;
    if (thi)
      hi = hi ? qMax(*hi, *thi) : *thi;
  }
  if (!lo || !hi || !(*hi > *lo) || !QCPRange::validRange(*lo, *hi))
    return false;
  axisOf(axis)->setRange(*lo, *hi);
  requestReplot();
  return true;
}

void PlotChart::setXDateTimeLabels(bool on, const QString &delphiFormat) {
  m_dateTimeLabels = on;
  m_dateTimeFormat = delphiFormat;
  applyTicker(ChartAxis::X);
}

// ---- data view

void PlotChart::setGridColor(const QColor &color) {
  for (QCPAxis *a : {m_plot->xAxis, m_plot->yAxis}) {
    a->grid()->setPen(QPen(color, 1, Qt::SolidLine));
    // The zero line would otherwise stand out in its own colour.
    a->grid()->setZeroLinePen(Qt::NoPen);
  }
  requestReplot();
}

void PlotChart::setMinorGridColor(ChartAxis axis, const QColor &color) {
  QCPGrid *grid = axisOf(axis)->grid();
  grid->setSubGridPen(QPen(color, 1, Qt::DotLine));
  grid->setSubGridVisible(true);
  requestReplot();
}
