#include "views/TfraChannel.h"

#include "acquisition/TimeUnits.h"
#include "app/AppContext.h"
#include "views/DotMatrixDisplay.h"
#include "views/PanelDrag.h"
#include "views/PlotChart.h"
#include "views/ViewGeometry.h"
#include "views/WinColor.h"

#include <qcustomplot.h>

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int kPanelFrame = 2;
constexpr int kDesignPanelWidth = 177;
// The unit caption starts right of the value display; a small margin keeps its last letter clear.
constexpr int kUnitLeft = 136;
constexpr int kUnitRightMargin = 2;
constexpr int kDisplayBackground = 8404992;
constexpr int kDisplayUnlit = 16744448;

QFont songti(int pixels, bool bold = false) {
  QFont f(QStringLiteral("宋体"));
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}
} // namespace

TfraChannel::TfraChannel(AppContext &ctx, ChannelViewHost &host, int channel, QWidget *parent)
    : QFrame(parent), m_ctx(ctx), m_host(host), m_channelNo(channel) {
  setObjectName(QStringLiteral("fraChannel%1").arg(channel + 1));
  auto *l = new QVBoxLayout(this);
  l->setContentsMargins(0, 0, 0, 0);
  pltChannel = new PlotChart(5, this);
  pltChannel->setObjectName(QStringLiteral("pltChannel"));
  l->addWidget(pltChannel);

  pltChannel->setTraceColor(1, Qt::yellow);
  pltChannel->setTraceColor(2, ColorFromWin(4259584));
  pltChannel->setTraceColor(3, Qt::magenta);
  pltChannel->setTraceColor(4, Qt::cyan);
  pltChannel->setMarkerSize(0, 2);
  pltChannel->setLegendTitle(QStringLiteral("批次"));
  // The information window floats at the top right; keep the batch legend clear of it.
  pltChannel->plot()->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignBottom | Qt::AlignRight);
  pltChannel->setTracking(ChartAxis::X, true);
  pltChannel->setTracking(ChartAxis::Y, false);
  // Ten views share a page: the chart gives up what costs height first as the view gets short.
  pltChannel->setFitToHeight(true, true);

  connect(pltChannel, &PlotChart::doubleClicked, this, &TfraChannel::toggleMaximize);
  connect(pltChannel, &PlotChart::focusEntered, this, &TfraChannel::pltChannelEnter);
  connect(pltChannel, &PlotChart::focusLeft, this, &TfraChannel::pltChannelExit);
  connect(pltChannel, &PlotChart::xAxisMouseMove, this, [this](Qt::MouseButtons b) {
    if (b & Qt::LeftButton)
      pltChannel->setTracking(ChartAxis::X, false);
  });
  connect(pltChannel, &PlotChart::dataCursorMoved, this, [this](int cursor) {
    if (cursor == 0)
      pltChannelMouseMoveDataCursor();
  });

  buildPanel();
  buildMenus();
  pltChannel->plot()->installEventFilter(this);
  setPanelBkColor(m_panelBk);
  setPanelTextColor(m_panelText);
}

TfraChannel::~TfraChannel() {
  // Child widgets are destroyed after this body, while their events still reach the filter.
  m_destroying = true;
}

void TfraChannel::buildPanel() {
  panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("panel"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  panel->setAutoFillBackground(true);
  panel->setFont(QFont(QStringLiteral("Courier New")));

  pnlNow = new QFrame(panel);
  iLCDCurrentValue = new DotMatrixDisplay(pnlNow);
  iLCDCurrentValue->setObjectName(QStringLiteral("iLCDCurrentValue"));
  iLCDCurrentValue->setToolTip(QStringLiteral("当前值"));
  iLCDCurrentValue->setLitColor(Qt::yellow);
  iLCDCurrentValue->setUnlitColor(ColorFromWin(kDisplayUnlit));
  iLCDCurrentValue->setBackgroundColor(ColorFromWin(kDisplayBackground));
  lblCurrentValue = new QLabel(pnlNow);
  lblCurrentValue->setObjectName(QStringLiteral("lblCurrentValue"));
  QFont arial(QStringLiteral("Arial"));
  arial.setPixelSize(12);
  lblCurrentValue->setFont(arial);
  lblUnit = new QLabel(QStringLiteral("Kg"), pnlNow);
  lblUnit->setObjectName(QStringLiteral("lblUnit"));
  lblUnit->setFont(songti(19, true));
  lblUnit->setAutoFillBackground(true);
  QPalette up = lblUnit->palette();
  up.setColor(QPalette::Window, ColorFromWin(kDisplayBackground));
  up.setColor(QPalette::WindowText, Qt::white);
  lblUnit->setPalette(up);
  lblUnit->raise(); // the current-value caption lies under the unit

  pnlMax = new QFrame(panel);
  Label2 = new QLabel(QStringLiteral("最大值: "), pnlMax);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lblMax = new QLabel(pnlMax);
  lblMax->setObjectName(QStringLiteral("lblMax"));
  pnlMin = new QFrame(panel);
  Label3 = new QLabel(QStringLiteral("最小值: "), pnlMin);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lblMin = new QLabel(pnlMin);
  lblMin->setObjectName(QStringLiteral("lblMin"));
  for (QLabel *c : {Label2, Label3, lblMax, lblMin})
    c->setFont(songti(12));

  tbControl = new QFrame(panel);
  btnOption = new QToolButton(tbControl);
  btnOption->setObjectName(QStringLiteral("btnOption"));
  btnOption->setToolTip(QStringLiteral("通道参数"));
  btnBase = new QToolButton(tbControl);
  btnBase->setObjectName(QStringLiteral("btnBase"));
  btnBase->setToolTip(QStringLiteral("清零"));
  btnBase->setCheckable(true);
  btnBase->setEnabled(false);
  lblBaseValue = new QLabel(tbControl);
  lblBaseValue->setObjectName(QStringLiteral("lblBaseValue"));
  lblBaseValue->setToolTip(QStringLiteral("零点值"));
  lblBaseValue->hide();
  tbControl->hide(); // never shown
  connect(btnOption, &QToolButton::clicked, this,
          [this] { m_host.openChannelProperties(m_channelNo, -1); });
  connect(btnBase, &QToolButton::toggled, this,
          [this](bool down) { emit baseToggled(m_channelNo, down); });

  for (QWidget *w : std::initializer_list<QWidget *>{panel, pnlNow, pnlMax, pnlMin, iLCDCurrentValue,
                                                     lblUnit, lblCurrentValue, Label2, Label3, lblMax, lblMin}) {
    w->setCursor(Qt::SizeAllCursor);
    w->installEventFilter(this);
  }
  panel->resize(kDesignPanelWidth, 0);
  setUnitCaption(lblUnit->text(), kDesignPanelWidth);
  panel->move(48, 112);
}

void TfraChannel::buildMenus() {
  PopupMenu1 = new QMenu(this);
  MenuMaximize = PopupMenu1->addAction(QStringLiteral("本绘图区最大化(&M)"), this,
                                       &TfraChannel::toggleMaximize);
  PopupMenu1->addSeparator();
  PopupMenu1->addAction(QStringLiteral("清除通道数据(&C)"), this, [this] { m_host.clearChannelData(); });
  PopupMenu1->addSeparator();
  QMenu *excel = PopupMenu1->addMenu(QStringLiteral("导出为EXCEL(&L)"));
  excel->addAction(QStringLiteral("导出全部绘图区数据(&A)"), this, [this] { m_host.exportAllChannels(exportlayout::ExportFormat::Xls); });
  excel->addAction(QStringLiteral("只导出本绘图区数据(&S)"), this, [this] { m_host.exportChannel(this, exportlayout::ExportFormat::Xls); });
  excel->addAction(QStringLiteral("导出为GSV(&G)"))->setVisible(false);
  // Whole charts, without the 65535-row limit of .xls, for both scopes of the .xls entries.
  using exportlayout::ExportFormat;
  for (const auto &[text, format] : {std::pair{QStringLiteral("导出CSV文件"), ExportFormat::Csv},
                                     std::pair{QStringLiteral("导出Excel 2007文件(.xlsx)"), ExportFormat::Xlsx}}) {
    QMenu *sub = excel->addMenu(text);
    const ExportFormat f = format;
    sub->addAction(QStringLiteral("导出全部绘图区数据(&A)"), this, [this, f] { m_host.exportAllChannels(f); });
    sub->addAction(QStringLiteral("只导出本绘图区数据(&S)"), this, [this, f] { m_host.exportChannel(this, f); });
  }
  PopupMenu1->addAction(QStringLiteral("保存为图片(&S)"), this, [this] { pltChannel->execSaveImageDialog(); });
  PopupMenu1->addAction(QStringLiteral("打印本绘图(&P)"), this, [this] { pltChannel->execPrintDialog(); });
  PopupMenu1->addSeparator();
  PopupMenu1->addAction(QStringLiteral("属性(&R)"), this,
                        [this] { m_host.openChannelProperties(m_channelNo, 0); });

  PopupMenu2 = new QMenu(this);
  PopupMenu2->addAction(QStringLiteral("属性(&D)"), this,
                        [this] { m_host.openChannelProperties(m_channelNo, 1); });
}

// ---- layout of the information window

void TfraChannel::setUnitCaption(const QString &unit, int panelWidth) {
  lblUnit->setText(unit);
  // The width asked for counts 11 pixels a byte, which holds for one font only; the unit must
  // fit in the font it is actually drawn with, or "mm" shows as "mr".
  panelWidth = std::max(panelWidth, 2 * kPanelFrame + kUnitLeft +
                                        lblUnit->fontMetrics().horizontalAdvance(unit) + kUnitRightMargin);
  layoutPanel(panelWidth);
}

void TfraChannel::layoutPanel(int panelWidth) {
  // A short view gets compact rows, so that the window stays whole inside it.
  const PanelRows rows = FitPanelRows(height(), m_showNow, m_showMax, m_showMin);
  const int inner = panelWidth - 2 * kPanelFrame;
  int y = kPanelFrame;
  auto row = [&](QFrame *r, int h) {
    r->setVisible(h > 0);
    if (h <= 0)
      return;
    r->setGeometry(kPanelFrame, y, inner, h);
    y += h;
  };
  row(pnlNow, rows.now);
  row(pnlMax, rows.max);
  row(pnlMin, rows.min);
  iLCDCurrentValue->setGeometry(0, 1, 135, std::max(0, rows.now - 2));
  lblUnit->setGeometry(kUnitLeft, 0, std::max(0, inner - kUnitLeft), rows.now);
  lblCurrentValue->setGeometry(lblUnit->geometry());
  Label2->setGeometry(0, 0, 50, rows.max);
  lblMax->setGeometry(52, 0, std::max(0, inner - 52), rows.max);
  Label3->setGeometry(0, 0, 50, rows.min);
  lblMin->setGeometry(52, 0, std::max(0, inner - 52), rows.min);
  panel->resize(panelWidth, y + kPanelFrame);
  panel->move(KeepPanelInside(panel->pos(), panel->size(), size()));
}

void TfraChannel::placePanel() {
  // A spacing copied from a wider view, or read back from the settings, can point outside
  // this one: the window is kept whole inside, the stored spacing stays as it was given.
  panel->move(KeepPanelInside(PanelPosition(size(), panel->size(), m_panelRightSpace, m_panelTopSpace),
                              panel->size(), size()));
  panel->raise();
}

void TfraChannel::setLowestInColumn(bool lowest) { pltChannel->setFitToHeight(true, lowest); }

void TfraChannel::resizeEvent(QResizeEvent *event) {
  QFrame::resizeEvent(event);
  if (event->size().height() != event->oldSize().height())
    layoutPanel(panel->width());
  placePanel();
}

void TfraChannel::setPanelTopSpace(int v) {
  panel->move(KeepPanelInside(QPoint(panel->x(), v), panel->size(), size()));
  if (v != m_panelTopSpace) {
    m_panelTopSpace = v;
    m_ctx.settings->writeInteger(Sections::channel(m_channelNo), QStringLiteral("PanelTopSpace"), v);
  }
}

void TfraChannel::setPanelRightSpace(int v) {
  panel->move(KeepPanelInside(QPoint(width() - v - panel->width(), panel->y()), panel->size(), size()));
  if (v != m_panelRightSpace) {
    m_panelRightSpace = v;
    m_ctx.settings->writeInteger(Sections::channel(m_channelNo), QStringLiteral("PanelRightSpace"), v);
  }
}

void TfraChannel::setShowNowValue(bool v) {
  m_showNow = v;
  layoutPanel(panel->width());
  m_ctx.settings->writeBool(Sections::channel(m_channelNo), QStringLiteral("ShowNowValue"), v);
}

void TfraChannel::setShowMaxValue(bool v) {
  m_showMax = v;
  layoutPanel(panel->width());
  m_ctx.settings->writeBool(Sections::channel(m_channelNo), QStringLiteral("ShowMaxValue"), v);
}

void TfraChannel::setShowMinValue(bool v) {
  m_showMin = v;
  layoutPanel(panel->width());
  m_ctx.settings->writeBool(Sections::channel(m_channelNo), QStringLiteral("ShowMinValue"), v);
}

// ---- colours

void TfraChannel::setCurveBkColor(int c) { pltChannel->setBackgroundColor(ColorFromWin(c)); }

void TfraChannel::setCurveGridColor(int c) {
  pltChannel->setGridColor(ColorFromWin(c));
  pltChannel->setMinorGridColor(ChartAxis::X, ColorFromWin(c));
  pltChannel->setMinorGridColor(ChartAxis::Y, ColorFromWin(c));
}

void TfraChannel::setCurveTextColor(int c) {
  const QColor col = ColorFromWin(c);
  for (ChartAxis a : {ChartAxis::X, ChartAxis::Y}) {
    pltChannel->setAxisLabelColor(a, col);
    pltChannel->setAxisTitleColor(a, col);
    pltChannel->setAxisLineColor(a, col);
  }
  pltChannel->setTitleColor(col);
}

void TfraChannel::setAlarmLimits(const AlarmLimits &l) {
  pltChannel->setLimitLines(l.enabled ? l.high : std::nullopt, l.enabled ? l.low : std::nullopt);
}

void TfraChannel::setAlarmed(bool alarmed) {
  if (alarmed == m_alarmed)
    return;
  m_alarmed = alarmed;
  iLCDCurrentValue->setLitColor(alarmed ? QColor(Qt::red) : QColor(Qt::yellow));
  paintCaptions(m_captionColor);
}

void TfraChannel::paintCaptions(int winColor) {
  m_captionColor = winColor;
  // Red whatever the operator's colours, so an alarm is seen across the room.
  const QColor bk = m_alarmed ? QColor(Qt::red) : ColorFromWin(winColor);
  const QColor text = m_alarmed ? QColor(Qt::white) : ColorFromWin(m_panelText);
  for (QLabel *c : {Label2, Label3, lblCurrentValue, lblMax, lblMin, lblBaseValue}) {
    c->setAutoFillBackground(true);
    QPalette p = c->palette();
    p.setColor(QPalette::Window, bk);
    p.setColor(QPalette::WindowText, text);
    c->setPalette(p);
  }
  QPalette pp = panel->palette();
  pp.setColor(QPalette::Window, bk);
  panel->setPalette(pp);
}

void TfraChannel::setPanelBkColor(int c) {
  m_panelBk = c;
  paintCaptions(c);
}

void TfraChannel::setPanelTextColor(int c) {
  m_panelText = c;
  paintCaptions(m_panelBk);
}

void TfraChannel::pltChannelEnter() {
  m_host.viewActivated(this);
  paintCaptions(HighlightColor(m_panelBk));
}

void TfraChannel::pltChannelExit() { paintCaptions(m_panelBk); }

// ---- samples

QString TfraChannel::DisplayText(const QString &formatted) {
  return formatted.size() >= 7 ? formatted : formatted.rightJustified(7, QLatin1Char(' '));
}

void TfraChannel::showSample(double value, double timeMs, int channel, qint64 record) {
  const double x = ToDisplayTime(timeMs, m_ctx.options.TimeWindowUnit);
  const double start = pltChannel->axisMin(ChartAxis::X);
  const double span = pltChannel->axisSpan(ChartAxis::X);
  if (x > start + span)
    pltChannel->setAxisMin(ChartAxis::X, start + span * (100 - m_ctx.options.DiplayBackPer) / 100.0);
  // A store over the recording file takes the file's own time, so what it reads back later
  // is the very same sample.
  if (record >= 0 && pltChannel->traceFileBacked(0))
    pltChannel->addStoredPoint(0, timeMs, value, record);
  else
    pltChannel->addPoint(0, x, value);

  const QString text = m_ctx.formats.formatValue(channel, value);
  lblCurrentValue->setText(text);
  const bool alive = channel >= 0 && channel < kMeterSlots &&
                     m_ctx.meters.Meters[static_cast<size_t>(channel)].MeterAlive.load(std::memory_order_relaxed);
  iLCDCurrentValue->setText(alive ? DisplayText(text) : QString());
  // Running extremes of trace 0: constant time per sample however long the recording.
  if (const auto mx = pltChannel->maxY(0))
    lblMax->setText(m_ctx.formats.formatValue(channel, *mx));
  if (const auto mn = pltChannel->minY(0))
    lblMin->setText(m_ctx.formats.formatValue(channel, *mn));
  // Repaints are coalesced for every meter: a burst of samples costs one repaint per frame.
  pltChannel->requestReplot();
}

void TfraChannel::clearDisplay() {
  pltChannel->clearTrace(0);
  lblCurrentValue->clear();
  iLCDCurrentValue->setText(QString());
  lblMax->clear();
  lblMin->clear();
  pltChannel->requestReplot();
}

void TfraChannel::setChartTitle(const QString &text) {
  pltChannel->setTitle(text);
  pltChannel->setTitleVisible(!text.trimmed().isEmpty());
}

void TfraChannel::setValueAxisTitle(const QString &text) { pltChannel->setAxisTitle(ChartAxis::Y, text); }

void TfraChannel::setValueAxis(double start, double span, double desiredStart, double increment) {
  pltChannel->setAxisMin(ChartAxis::Y, start);
  pltChannel->setAxisSpan(ChartAxis::Y, span);
  pltChannel->setDesiredStart(ChartAxis::Y, desiredStart);
  pltChannel->setDesiredIncrement(ChartAxis::Y, increment);
}

void TfraChannel::setCurveColor(int winColor) { pltChannel->setTraceColor(0, ColorFromWin(winColor)); }

void TfraChannel::setBaseCaption(bool visible, const QString &text) {
  lblBaseValue->setText(text);
  lblBaseValue->setVisible(visible);
}

double TfraChannel::timeAxisStart() const { return pltChannel->axisMin(ChartAxis::X); }
double TfraChannel::timeAxisSpan() const { return pltChannel->axisSpan(ChartAxis::X); }
void TfraChannel::setTimeAxisStart(double start) { pltChannel->setAxisMin(ChartAxis::X, start); }
void TfraChannel::setTimeAxisSpan(double span) { pltChannel->setAxisSpan(ChartAxis::X, span); }

void TfraChannel::setBaseButton(bool enabled, bool down) {
  const QSignalBlocker block(btnBase);
  btnBase->setEnabled(enabled);
  btnBase->setChecked(down);
}

// ---- operator actions

void TfraChannel::toggleMaximize() {
  if (m_formStatus == TFormStatus::fsNormal) {
    m_formStatus = TFormStatus::fsMaximized;
    if (parentWidget())
      setGeometry(parentWidget()->rect());
    raise();
    MenuMaximize->setText(QStringLiteral("还原到各绘图显示(&C)"));
  } else {
    m_formStatus = TFormStatus::fsNormal;
    m_host.arrangeViews();
    MenuMaximize->setText(QStringLiteral("本绘图区最大化(&M)"));
  }
  placePanel();
}

void TfraChannel::showCursorReading() {
  if (const auto v = pltChannel->cursorValue(0)) {
    const QString text = m_ctx.formats.formatValue(m_channelNo, *v);
    lblCurrentValue->setText(text);
    iLCDCurrentValue->setText(text);
    iLCDCurrentValue->refresh();
  }
}

void TfraChannel::pltChannelMouseMoveDataCursor() {
  if (!m_host.cursorToolDown() || m_sampling)
    return;
  if (m_host.linkMove()) {
    for (TfraChannel *v : m_host.channelViews()) {
      if (v == this)
        continue;
      v->pltChannel->setCursorPosition(pltChannel->cursorPosition());
      v->showCursorReading();
      v->pltChannel->requestReplot();
    }
  }
  if (pltChannel->pointCount(0) > 0)
    showCursorReading();
}

void TfraChannel::endPanelDrag() {
  const QPoint p = KeepPanelInside(ClampPanel(panel->pos(), panel->size(), size()), panel->size(), size());
  panel->move(p);
  setPanelTopSpace(p.y());
  setPanelRightSpace(width() - p.x() - panel->width());
  if (m_host.linkMove()) {
    m_host.freezeDrawing(true);
    for (TfraChannel *v : m_host.channelViews()) {
      if (v == this)
        continue;
      v->setPanelRightSpace(m_panelRightSpace);
      v->setPanelTopSpace(m_panelTopSpace);
    }
    m_host.freezeDrawing(false);
  }
}

bool TfraChannel::eventFilter(QObject *watched, QEvent *event) {
  if (m_destroying)
    return false;
  if (watched == pltChannel->plot()) {
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
  case QEvent::MouseButtonDblClick:
    if (w != panel && w != pnlNow && w != pnlMax && w != pnlMin) {
      btnOption->click();
      return true;
    }
    break;
  case QEvent::ContextMenu:
    PopupMenu2->popup(static_cast<QContextMenuEvent *>(event)->globalPos());
    return true;
  default:
    break;
  }
  return QFrame::eventFilter(watched, event);
}
