#include "views/TfraXYChannel.h"

#include "acquisition/TChannel.h"
#include "app/AppContext.h"
#include "views/DotMatrixDisplay.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewGeometry.h"
#include "views/WinColor.h"

#include <qcustomplot.h>

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>

namespace {
constexpr int kRowHeight = 32;
constexpr int kPanelFrame = 2;
constexpr int kDisplayWidth = 135;
constexpr int kDisplayBackground = 8404992;
constexpr int kDisplayUnlit = 16744448;

QFont songti(int pixels, bool bold) {
  QFont f(QStringLiteral("宋体"));
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}
} // namespace

TfraXYChannel::TfraXYChannel(AppContext &ctx, QWidget *xyPage, QWidget *parent)
    : QFrame(parent), m_ctx(ctx), m_host(xyPage ? xyPage : this) {
  setObjectName(QStringLiteral("XYView"));
  hide(); // only the chart and the window are seen, on the page
  buildChart();
  buildPanel();
  buildMenus();
  m_host->installEventFilter(this);
  pltXY->setGeometry(m_host->rect());
  m_pairing.setChannels(m_ctx.options.XChannelNo, m_ctx.options.YChannelNo);
}

TfraXYChannel::~TfraXYChannel() {
  // The chart and the window die below while this object is half gone: stop filtering first.
  m_destroying = true;
  m_host->removeEventFilter(this);
  delete m_ownedPanel.data();
  delete m_ownedChart.data();
}

void TfraXYChannel::buildChart() {
  pltXY = new PlotChart(kChannelChartTraces, TraceKind::Curve, m_host);
  pltXY->setObjectName(QStringLiteral("pltXY"));
  m_ownedChart = pltXY;
  pltXY->setTraceColor(1, Qt::yellow);
  pltXY->setTraceColor(2, ColorFromWin(4259584));
  pltXY->setTraceColor(3, Qt::magenta);
  pltXY->setTraceColor(4, Qt::cyan);
  pltXY->setLegendTitle(QStringLiteral("批次"));
  pltXY->setTitleVisible(false);
  pltXY->setAxisTitle(ChartAxis::X, QString());
  // The axes stay where the set-up puts them; the tools and the operator move them.
  pltXY->setTracking(ChartAxis::X, false);
  pltXY->setTracking(ChartAxis::Y, false);
  pltXY->plot()->installEventFilter(this);
  pltXY->show();
}

void TfraXYChannel::buildPanel() {
  panel = new QFrame(m_host);
  panel->setObjectName(QStringLiteral("panel"));
  m_ownedPanel = panel;
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  panel->setAutoFillBackground(true);
  panel->setFont(QFont(QStringLiteral("Courier New")));

  auto row = [this](const QString &suffix, DotMatrixDisplay *&display, QLabel *&unit) {
    auto *r = new QFrame(panel);
    r->setObjectName(QStringLiteral("pnlNow") + suffix);
    display = new DotMatrixDisplay(r);
    display->setObjectName(QStringLiteral("iLCDCurrentValue") + suffix);
    display->setToolTip(QStringLiteral("当前值"));
    display->setLitColor(Qt::yellow);
    display->setUnlitColor(ColorFromWin(kDisplayUnlit));
    display->setBackgroundColor(ColorFromWin(kDisplayBackground));
    unit = new QLabel(r);
    unit->setObjectName(QStringLiteral("lblUnit") + suffix);
    unit->setFont(songti(19, true));
    unit->setAutoFillBackground(true);
    QPalette p = unit->palette();
    p.setColor(QPalette::Window, ColorFromWin(kDisplayBackground));
    p.setColor(QPalette::WindowText, Qt::white);
    unit->setPalette(p);
    for (QWidget *w : std::initializer_list<QWidget *>{r, display, unit}) {
      w->setCursor(Qt::SizeAllCursor);
      w->installEventFilter(this);
    }
    return r;
  };
  pnlNowX = row(QStringLiteral("X"), iLCDCurrentValueX, lblUnitX);
  pnlNowY = row(QStringLiteral("Y"), iLCDCurrentValueY, lblUnitY);
  panel->setCursor(Qt::SizeAllCursor);
  panel->installEventFilter(this);
  layoutPanel(TChannel::PanelWidthForUnit(QString()));
  panel->move(kDesignLeft, kDesignTop);
  panel->raise();
  panel->show();
}

void TfraXYChannel::buildMenus() {
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  PopupMenu1->addAction(QStringLiteral("清除通道数据(&C)"), this, [this] {
    if (m_hooks.clearChannelData)
      m_hooks.clearChannelData();
  });
  PopupMenu1->addSeparator();
  QMenu *excel = PopupMenu1->addMenu(QStringLiteral("导出为EXCEL(&L)"));
  auto exportAs = [this](exportlayout::ExportFormat format) {
    if (m_hooks.exportChart)
      m_hooks.exportChart(pltXY, pltXY->title(), format);
  };
  excel->addAction(QStringLiteral("只导出本绘图区数据(&S)"), this,
                   [exportAs] { exportAs(exportlayout::ExportFormat::Xls); });
  excel->addAction(QStringLiteral("导出为GSV(&G)"))->setVisible(false);
  excel->addAction(QStringLiteral("导出CSV文件"), this, [exportAs] { exportAs(exportlayout::ExportFormat::Csv); });
  excel->addAction(QStringLiteral("导出Excel 2007文件(.xlsx)"), this,
                   [exportAs] { exportAs(exportlayout::ExportFormat::Xlsx); });
  PopupMenu1->addSeparator();
  PopupMenu1->addAction(QStringLiteral("保存为图片(&S)"), this, [this] { pltXY->execSaveImageDialog(); });
  PopupMenu1->addAction(QStringLiteral("打印本绘图(&P)"), this, [this] { pltXY->execPrintDialog(); });
  PopupMenu1->addSeparator();
  PopupMenu1->addAction(QStringLiteral("属性(&R)"), this, [this] {
    if (m_hooks.openProperties)
      m_hooks.openProperties(0);
  });

  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
  PopupMenu2->addAction(QStringLiteral("属性(&D)"), this, [this] {
    if (m_hooks.openProperties)
      m_hooks.openProperties(1);
  });
}

// ---- set-up

void TfraXYChannel::layoutPanel(int width) {
  const int inner = width - 2 * kPanelFrame;
  int y = kPanelFrame;
  for (auto [r, shown] : {std::pair{pnlNowX, m_showX}, std::pair{pnlNowY, m_showY}}) {
    r->setVisible(shown);
    if (!shown)
      continue;
    r->setGeometry(kPanelFrame, y, inner, kRowHeight);
    y += kRowHeight;
  }
  for (auto [d, u] : {std::pair{iLCDCurrentValueX, lblUnitX}, std::pair{iLCDCurrentValueY, lblUnitY}}) {
    d->setGeometry(0, 1, kDisplayWidth, kRowHeight - 2);
    u->setGeometry(kDisplayWidth + 1, 0, std::max(0, inner - kDisplayWidth - 1), kRowHeight);
  }
  panel->resize(width, y + kPanelFrame);
  // A wider window must not reach past the chart; before the page is shown the chart has no
  // size yet and the page's first resize places the window.
  if (pltXY->isVisible())
    panel->move(KeepPanelInside(panel->pos(), panel->size(), pltXY->size()));
}

void TfraXYChannel::SetupXYView() {
  const Options &o = m_ctx.options;
  m_pairing.setChannels(o.XChannelNo, o.YChannelNo);
  if (pltXY->parentWidget() != m_host) {
    pltXY->setParent(m_host);
    pltXY->setGeometry(m_host->rect());
    pltXY->show();
  }

  for (int i = 0; i < pltXY->traceCount(); ++i) {
    pltXY->setTraceVisible(i, o.TraceVisible);
    pltXY->setMarkersVisible(i, o.MarkersVisible);
  }

  pltXY->setBackgroundColor(ColorFromWin(o.CurveBkColor));
  const QColor grid = ColorFromWin(o.CurveGridColor);
  pltXY->setGridColor(grid);
  const QColor text = ColorFromWin(o.CurveTextColor);
  for (ChartAxis a : {ChartAxis::X, ChartAxis::Y}) {
    pltXY->setMinorGridColor(a, grid);
    pltXY->setAxisLabelColor(a, text);
    pltXY->setAxisTitleColor(a, text);
    pltXY->setAxisLineColor(a, text);
  }
  pltXY->setTitleColor(text);

  const XYSetup s = ReadXYSetup(*m_ctx.settings, o.XChannelNo, o.YChannelNo);
  const std::pair<ChartAxis, const XYAxisSetup &> axes[] = {{ChartAxis::X, s.x}, {ChartAxis::Y, s.y}};
  for (const auto &[axis, a] : axes) {
    pltXY->setAxisTitle(axis, a.title);
    pltXY->setAxisMin(axis, a.min);
    pltXY->setAxisSpan(axis, a.span);
    pltXY->setDesiredStart(axis, a.min);
    pltXY->setDesiredIncrement(axis, a.increment);
  }
  lblUnitX->setText(s.x.unit);
  lblUnitY->setText(s.y.unit);
  m_showX = s.showNowValueX;
  m_showY = s.showNowValueY;
  layoutPanel(s.panelWidth);

  if (panel->parentWidget() != m_host) {
    panel->setParent(m_host);
    panel->show();
  }
  panel->raise();
  pltXY->requestReplot();
}

// ---- points

bool TfraXYChannel::startAcquisition() {
  const Options &o = m_ctx.options;
  m_pairing.reset();
  m_batch = 0;
  m_fed = XYFeeds(o.XYChannelShow, o.XChannelNo, o.YChannelNo, m_ctx.meters.MeterAmount);
  if (m_fed) {
    pltXY->setTraceInLegend(0, true);
    pltXY->clearTrace(0);
    emptyDisplays();
  }
  return m_fed;
}

void TfraXYChannel::sampleShown(int channel, double value) { feed(channel, value, true); }

bool TfraXYChannel::beginReplay(int batch, int channelCount) {
  const Options &o = m_ctx.options;
  setBatchIndex(batch);
  m_pairing.reset();
  m_fed = XYFeeds(o.XYChannelShow, o.XChannelNo, o.YChannelNo, channelCount);
  if (m_fed) {
    pltXY->setTraceInLegend(m_batch, true);
    pltXY->clearTrace(m_batch);
    emptyDisplays();
  }
  return m_fed;
}

void TfraXYChannel::replaySample(int channel, double value) { feed(channel, value, false); }

void TfraXYChannel::pairSamples(std::span<const TSampleRecord> records, std::vector<QPointF> &points) {
  points.clear();
  if (!m_fed)
    return;
  for (const TSampleRecord &r : records)
    if (const std::optional<QPointF> p = m_pairing.feed(r.Channel, r.Value))
      points.push_back(*p);
}

void TfraXYChannel::addReplayPoints(const std::vector<QPointF> &points) {
  if (!m_fed || points.empty())
    return;
  m_batchX.resize(static_cast<qsizetype>(points.size()));
  m_batchY.resize(static_cast<qsizetype>(points.size()));
  for (size_t i = 0; i < points.size(); ++i) {
    m_batchX[static_cast<qsizetype>(i)] = points[i].x();
    m_batchY[static_cast<qsizetype>(i)] = points[i].y();
  }
  pltXY->addPoints(m_batch, m_batchX, m_batchY, false);
}

void TfraXYChannel::samplesShown(std::span<const TSampleRecord> records) {
  if (!m_fed)
    return;
  // The chart takes a batch's points in one go: a call per sample would cost more than the
  // pairing itself over a file of millions.
  m_batchX.clear();
  m_batchY.clear();
  bool xSeen = false;
  const int x = m_pairing.xChannel();
  for (const TSampleRecord &r : records) {
    const int channel = r.Channel;
    const std::optional<QPointF> point = m_pairing.feed(channel, r.Value);
    if (channel != x)
      continue;
    xSeen = true;
    if (point) {
      m_batchX.append(point->x());
      m_batchY.append(point->y());
    }
  }
  if (!m_batchX.isEmpty())
    pltXY->addPoints(m_batch, m_batchX, m_batchY, false);
  if (xSeen)
    AddXYPoint(std::nullopt, true);
}

void TfraXYChannel::feed(int channel, double value, bool showValues) {
  if (!m_fed)
    return;
  const std::optional<QPointF> point = m_pairing.feed(channel, value);
  if (channel == m_pairing.xChannel())
    AddXYPoint(point, showValues);
}

void TfraXYChannel::AddXYPoint(const std::optional<QPointF> &point, bool showValues) {
  if (point)
    pltXY->addPoint(m_batch, point->x(), point->y());
  if (showValues) {
    iLCDCurrentValueX->setText(displayText(m_pairing.xChannel()));
    iLCDCurrentValueY->setText(displayText(m_pairing.yChannel()));
  }
}

QString TfraXYChannel::displayText(int channel) const {
  // What the channel's own view shows: the padded value while its meter answers, else nothing.
  const double v = m_pairing.latest(channel);
  if (v == kNoValue || !m_ctx.meters.Meters[static_cast<size_t>(channel)].MeterAlive.load())
    return {};
  return TfraChannel::DisplayText(m_ctx.formats.formatValue(channel, v));
}

void TfraXYChannel::emptyDisplays() {
  iLCDCurrentValueX->setText(QString());
  iLCDCurrentValueY->setText(QString());
}

void TfraXYChannel::clearChannelData() {
  if (!m_fed)
    return;
  for (int i = 0; i < pltXY->traceCount(); ++i) {
    pltXY->clearTrace(i);
    pltXY->setTraceInLegend(i, false);
  }
  emptyDisplays();
  pltXY->requestReplot();
}

void TfraXYChannel::setBatchIndex(int batch) {
  m_batch = std::clamp(batch, 0, pltXY->traceCount() - 1);
}

// ---- information window

int TfraXYChannel::panelTop() const { return panel->y(); }

int TfraXYChannel::panelRight() const { return pltXY->width() - panel->x() - panel->width(); }

void TfraXYChannel::setPanelTopSpace(int v) {
  panel->move(KeepPanelInside(QPoint(panel->x(), v), panel->size(), pltXY->size()));
  if (m_panelTopSpace != v) {
    m_panelTopSpace = v;
    m_ctx.settings->writeInteger(Sections::ChannelXY, QStringLiteral("PanelTopSpace"), v);
  }
}

void TfraXYChannel::setPanelRightSpace(int v) {
  panel->move(KeepPanelInside(QPoint(pltXY->width() - v - panel->width(), panel->y()), panel->size(), pltXY->size()));
  if (m_panelRightSpace != v) {
    m_panelRightSpace = v;
    m_ctx.settings->writeInteger(Sections::ChannelXY, QStringLiteral("PanelRightSpace"), v);
  }
}

void TfraXYChannel::endPanelDrag() {
  const QPoint p = KeepPanelInside(ClampPanel(panel->pos(), panel->size(), pltXY->size()), panel->size(), pltXY->size());
  panel->move(p);
  setPanelTopSpace(p.y());
  setPanelRightSpace(pltXY->width() - p.x() - panel->width());
}

bool TfraXYChannel::eventFilter(QObject *watched, QEvent *event) {
  if (m_destroying)
    return false;
  if (watched == m_host && watched != this) {
    if (event->type() == QEvent::Resize) {
      pltXY->setGeometry(m_host->rect());
      // A window the operator has placed keeps its distance from the right edge.
      if (m_panelRightSpace && m_panelTopSpace)
        panel->move(PanelPosition(pltXY->size(), panel->size(), *m_panelRightSpace, *m_panelTopSpace));
      // Whoever placed it, the window stays whole on the shrunken page.
      panel->move(KeepPanelInside(panel->pos(), panel->size(), pltXY->size()));
    }
    return false;
  }
  if (watched == pltXY->plot()) {
    if (event->type() == QEvent::ContextMenu) {
      PopupMenu1->popup(static_cast<QContextMenuEvent *>(event)->globalPos());
      return true;
    }
    return false;
  }
  auto *w = qobject_cast<QWidget *>(watched);
  if (!w || (w != panel && !panel->isAncestorOf(w)))
    return QFrame::eventFilter(watched, event);
  if (m_drag.handle(event, panel, [this] { endPanelDrag(); }))
    return true;
  switch (event->type()) {
  case QEvent::ContextMenu:
    PopupMenu2->popup(static_cast<QContextMenuEvent *>(event)->globalPos());
    return true;
  default:
    break;
  }
  return QFrame::eventFilter(watched, event);
}
