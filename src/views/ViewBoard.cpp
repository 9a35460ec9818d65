#include "views/ViewBoard.h"

#include "acquisition/TChannel.h"
#include "app/AppContext.h"
#include "app/Conversions.h"
#include "views/ViewGeometry.h"
#include "views/WinColor.h"

#include <qcustomplot.h>

#include <QContextMenuEvent>
#include <QMenu>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr double kZoomIn = 0.8;

MeasureTimeUnit measureTimeUnit(int unit) {
  return {TimeUnitName(unit), TimeDecimals(UnitToMillisecondsF(unit))};
}
} // namespace

ViewBoard::ViewBoard(AppContext &ctx, Pages pages, Commands commands, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_pages(pages), m_commands(std::move(commands)) {
  buildCompareChart();
  // The page gets its final size only after the window's own resize: follow the page itself.
  m_pages.channelPage->installEventFilter(this);
}

bool ViewBoard::eventFilter(QObject *watched, QEvent *event) {
  if (watched == m_pages.channelPage && event->type() == QEvent::Resize)
    windowResized();
  return QObject::eventFilter(watched, event);
}

ViewBoard::~ViewBoard() {
  // Channels point at their views: let them go first.
  m_channels.clear();
}

void ViewBoard::buildCompareChart() {
  m_compare = new PlotChart(kCompareChartTraces, m_pages.comparePage);
  m_compare->setObjectName(QStringLiteral("pltChannelAll"));
  auto *l = new QVBoxLayout(m_pages.comparePage);
  l->setContentsMargins(0, 0, 0, 0);
  l->addWidget(m_compare);
  const QColor colours[kCompareChartTraces] = {
      QColor(Qt::red),     QColor(Qt::yellow), ColorFromWin(4259584), QColor(Qt::magenta),
      QColor(Qt::cyan),    QColor(Qt::blue),   QColor(Qt::green),     QColor(Qt::white),
      QColor(128, 0, 0),   QColor(0, 128, 0),  QColor(128, 128, 0)};
  for (int i = 0; i < kCompareChartTraces; ++i)
    m_compare->setTraceColor(i, colours[i]);
  m_compare->setLegendTitle(QStringLiteral("通道"));
  m_compare->setAxisTitle(ChartAxis::X, QStringLiteral("时间"));

  comparePopup = new QMenu(m_compare);
  comparePopup->addAction(QStringLiteral("清除通道数据(&C)"), this, [this] { clearChannelData(); });
  comparePopup->addSeparator();
  QMenu *excel = comparePopup->addMenu(QStringLiteral("导出为EXCEL(&L)"));
  excel->addAction(QStringLiteral("导出本绘图区数据(&S)"), this,
                   [this] { exportAllChannels(exportlayout::ExportFormat::Xls); });
  excel->addAction(QStringLiteral("导出为GSV(&G)"))->setVisible(false);
  excel->addAction(QStringLiteral("导出CSV文件"), this, [this] { exportAllChannels(exportlayout::ExportFormat::Csv); });
  excel->addAction(QStringLiteral("导出Excel 2007文件(.xlsx)"), this,
                   [this] { exportAllChannels(exportlayout::ExportFormat::Xlsx); });
  comparePopup->addSeparator();
  comparePopup->addAction(QStringLiteral("保存为图片(&S)"), this, [this] { m_compare->execSaveImageDialog(); });
  comparePopup->addAction(QStringLiteral("打印本绘图(&P)"), this, [this] { m_compare->execPrintDialog(); });
  comparePopup->addSeparator();
  comparePopup->addAction(QStringLiteral("属性(&R)"), this, [this] {
    if (m_commands.openCompareProperties)
      m_commands.openCompareProperties();
  });
  m_compare->plot()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_compare->plot(), &QWidget::customContextMenuRequested, this,
          [this](const QPoint &p) { comparePopup->popup(m_compare->plot()->mapToGlobal(p)); });
}

TfraChannel *ViewBoard::view(int i) const {
  return i >= 0 && i < viewCount() ? m_views[static_cast<size_t>(i)] : nullptr;
}

TChannel *ViewBoard::channel(int i) const {
  return i >= 0 && i < static_cast<int>(m_channels.size()) ? m_channels[static_cast<size_t>(i)].get()
                                                            : nullptr;
}

QList<TfraChannel *> ViewBoard::channelViews() const {
  return QList<TfraChannel *>(m_views.begin(), m_views.end());
}

void ViewBoard::BuildChannelViews(int count) {
  // One channel per meter slot at most; the meter table has ten.
  count = std::clamp(count, 0, kMeterSlots);
  // 1. The zoom box ends on every chart, not only on the button.
  if (m_commands.releaseZoomBox)
    m_commands.releaseZoomBox();
  setZoomBox(false);
  m_pages.pageControl->setVisible(true);
  m_pages.channelPage->setVisible(true);
  // 2.
  m_activePlot = nullptr;
  m_channels.clear();
  for (TfraChannel *v : m_views)
    delete v;
  m_views.clear();

  ProfileStore &s = *m_ctx.settings;
  const Options &o = m_ctx.options;
  // 3.
  for (int i = 0; i < count; ++i) {
    const int n = i + 1;
    const QString sec = Sections::channel(i);
    auto *v = new TfraChannel(m_ctx, *this, i, m_pages.channelPage);
    v->setObjectName(QStringLiteral("fraChannel%1").arg(n));
    v->setChannelNo(i);
    m_views.push_back(v);
    connect(v, &TfraChannel::baseToggled, this, [this](int ch, bool down) {
      if (TChannel *c = channel(ch))
        c->setBaseValue(down ? c->Value() : 0.0);
    });

    v->setPanelRightSpace(s.readInteger(sec, QStringLiteral("PanelRightSpace"), 2));
    v->setPanelTopSpace(s.readInteger(sec, QStringLiteral("PanelTopSpace"), 2));
    v->setShowNowValue(s.readBool(sec, QStringLiteral("ShowNowValue"), true));
    v->setShowMaxValue(s.readBool(sec, QStringLiteral("ShowMaxValue"), true));
    v->setShowMinValue(s.readBool(sec, QStringLiteral("ShowMinValue"), true));
    v->setShowButton(s.readBool(sec, QStringLiteral("ShowButton"), false));
    v->setAlarmLimits(ReadAlarmLimits(s, i));
    applyDisplayTo(v);
    v->pltChannel->setMeasuring(m_measuring);
    v->pltChannel->setAxisRange(ChartAxis::X, 0, static_cast<double>(o.TimeWindowCount));

    const int signal = s.readInteger(sec, QStringLiteral("SignalType"), 1);
    auto c = std::make_unique<TChannel>(TChannel::Env{s, m_ctx.formats, o.MaxADValue}, v,
                                        signal == 0 ? TSignalType::stVoltage : TSignalType::stCurrent, i);
    // The precision first: the base caption is formatted with it.
    m_ctx.formats.setPrecision(i, s.readInteger(sec, QStringLiteral("PrecisionArray"), 2));
    const double base = s.readFloat(sec, QStringLiteral("BaseValue"), 0);
    c->setBaseValue(base);
    v->setBaseButton(false, base != 0.0);
    c->setPhysicalChannel(s.readInteger(sec, QStringLiteral("PhysicalChannel"), n));
    c->setMainTitle(s.readString(sec, QStringLiteral("MainTitle"), QStringLiteral("通道%1测试").arg(n)));
    c->setTitle(s.readString(sec, QStringLiteral("Title"), QStringLiteral("通道%1").arg(n)));
    c->setMeasureUnit(s.readString(sec, QStringLiteral("MeasureUnit"), QString()));
    c->SetRange(s.readFloat(sec, QStringLiteral("RangeMin"), 0), s.readFloat(sec, QStringLiteral("RangeMax"), 50));
    c->setScale(s.readFloat(sec, QStringLiteral("Scale"), 1));
    c->setOffset(s.readFloat(sec, QStringLiteral("Offset"), 0));
    c->setCurveColor(s.readInteger(sec, QStringLiteral("CurveColor"), 255));
    c->setBoardId(s.readInteger(sec, QStringLiteral("BoardId"), 0));
    c->setTimeWindow(o.TimeWindowCount);
    const TMeterConfigure &m = m_ctx.meters.Meters[static_cast<size_t>(i)];
    c->setMeterAddr(m.MeterNo);
    c->setMeterComNo(m.MeterCom);
    m_channels.push_back(std::move(c));
    v->show();
  }
  // 4.
  ArrangeViews(o.ArrangeType);
}

void ViewBoard::applyDisplayTo(TfraChannel *v) {
  const Options &o = m_ctx.options;
  v->setCurveBkColor(o.CurveBkColor);
  v->setCurveGridColor(o.CurveGridColor);
  v->setCurveTextColor(o.CurveTextColor);
  v->setPanelBkColor(o.PanelBkColor);
  v->setPanelTextColor(o.PanelTextColor);
  v->pltChannel->setAxisTitle(ChartAxis::X, QStringLiteral("时间(") + TimeUnitName(o.TimeWindowUnit) + ')');
  // Every trace of a channel chart holds that channel's readings.
  ChannelFormats &formats = m_ctx.formats;
  v->pltChannel->setMeasureFormat([&formats, v](int) { return formats.precision(v->ChannelNo()); },
                                  measureTimeUnit(o.TimeWindowUnit));
  for (int t = 0; t < kChannelChartTraces; ++t) {
    v->pltChannel->setTraceVisible(t, o.TraceVisible);
    v->pltChannel->setMarkersVisible(t, o.MarkersVisible);
  }
}

void ViewBoard::applyDisplaySettings() {
  for (TfraChannel *v : m_views) {
    applyDisplayTo(v);
    v->pltChannel->setXDateTimeLabels(v->pltChannel->xDateTimeLabels(), m_ctx.options.DateTimeFormat);
    v->pltChannel->requestReplot();
  }
  if (!m_views.empty()) {
    for (int t = 0; t < kMeterSlots; ++t) {
      m_compare->setTraceVisible(t, m_ctx.options.TraceVisible);
      m_compare->setMarkersVisible(t, m_ctx.options.MarkersVisible);
    }
    m_compare->requestReplot();
  }
}

void ViewBoard::setTimeWindow(qint64 count) {
  for (auto &c : m_channels)
    c->setTimeWindow(count);
}

void ViewBoard::rescaleTimeAxis(double factor) {
  // A change of scale, not a rewrite of every point. Every trace with points, not only the
  // live one: an opened file's batches and the comparison would stay in the old unit.
  const auto rescale = [factor](PlotChart *p) {
    for (int t = 0; t < p->traceCount(); ++t)
      if (p->pointCount(t) > 0)
        p->rescaleX(t, factor);
  };
  for (TfraChannel *v : m_views)
    rescale(v->pltChannel);
  if (m_compare)
    rescale(m_compare);
}

bool ViewBoard::backTracesWithFile(const QString &path, int fileChannels, int timeUnit) {
  const double msPerUnit = UnitToMillisecondsF(timeUnit);
  if (!(msPerUnit > 0))
    return false;
  std::vector<std::shared_ptr<SampleStore>> stores;
  for (size_t i = 0; i < m_views.size() && static_cast<int>(i) < fileChannels; ++i) {
    auto store = SampleStore::openFile(path, fileChannels, static_cast<int>(i));
    if (!store)
      return false;
    stores.push_back(std::move(store));
  }
  for (size_t i = 0; i < stores.size(); ++i)
    m_views[i]->pltChannel->setTraceStore(0, std::move(stores[i]), 1.0 / msPerUnit);
  return true;
}

void ViewBoard::ArrangeViews(int arrangeType) {
  const QList<QRect> rects = ArrangeRects(arrangeType, viewCount(), m_pages.channelPage->size());
  for (int i = 0; i < rects.size(); ++i) {
    TfraChannel *v = m_views[static_cast<size_t>(i)];
    // The lowest view of each column labels the time axis for the views above it.
    const bool lowest = std::none_of(rects.begin(), rects.end(), [&](const QRect &r) {
      return r.left() == rects[i].left() && r.top() > rects[i].top();
    });
    v->setLowestInColumn(lowest);
    v->setGeometry(rects[i]);
    v->placePanel();
  }
}

void ViewBoard::arrangeViews() { ArrangeViews(m_ctx.options.ArrangeType); }

void ViewBoard::arrangeButton(int arrangeType) {
  if (m_activePlot && m_activePlot->FormStatus() == TFormStatus::fsMaximized)
    return;
  m_ctx.options.ArrangeType = arrangeType;
  m_ctx.settings->writeInteger(Sections::System, QStringLiteral("ArrangeType"), arrangeType);
  ArrangeViews(arrangeType);
  m_pages.pageControl->setCurrentIndex(0);
}

void ViewBoard::windowResized() {
  ArrangeViews(m_ctx.options.ArrangeType);
  if (m_activePlot && m_activePlot->FormStatus() == TFormStatus::fsMaximized) {
    m_activePlot->setGeometry(m_pages.channelPage->rect());
    m_activePlot->toggleMaximize();
    m_activePlot->toggleMaximize();
  }
}

int ViewBoard::pageKind() const {
  const int i = m_pages.pageControl->currentIndex();
  if (i == 0)
    return 0;
  if (i == 1 && m_pages.pageControl->isTabVisible(1))
    return 1;
  return 2;
}

void ViewBoard::holdReplots(bool held) {
  for (TfraChannel *v : m_views)
    v->pltChannel->setReplotHeld(held);
  if (m_compare)
    m_compare->setReplotHeld(held);
  if (m_xyChart)
    m_xyChart->setReplotHeld(held);
}

template <typename F> void ViewBoard::forEachChartOfPage(F f) {
  switch (pageKind()) {
  case 0:
    for (TfraChannel *v : m_views)
      f(v->pltChannel);
    break;
  case 1:
    if (m_xyChart)
      f(m_xyChart.data());
    break;
  default:
    f(m_compare);
    break;
  }
}

void ViewBoard::zoom(ChartAxis axis, double factor) {
  forEachChartOfPage([&](PlotChart *p) {
    p->setTracking(axis, false);
    p->zoom(axis, factor);
    p->requestReplot();
  });
}

void ViewBoard::zoomToFit() {
  forEachChartOfPage([](PlotChart *p) {
    p->zoomToFit(ChartAxis::X);
    p->requestReplot();
  });
}

void ViewBoard::resetScale() {
  switch (pageKind()) {
  case 0:
    for (size_t i = 0; i < m_views.size(); ++i) {
      PlotChart *p = m_views[i]->pltChannel;
      p->setTracking(ChartAxis::X, true);
      p->setTracking(ChartAxis::Y, true);
      TChannel *c = m_channels[i].get();
      c->SetRange(c->RangeMin(), c->RangeMax());
      p->setAxisSpan(ChartAxis::X, static_cast<double>(c->TimeWindow()));
      p->requestReplot();
    }
    break;
  case 1:
    if (m_setupXY)
      m_setupXY();
    if (m_xyChart)
      m_xyChart->requestReplot();
    break;
  default:
    m_compare->setTracking(ChartAxis::X, true);
    m_compare->setTracking(ChartAxis::Y, true);
    SetupCompareView();
    break;
  }
}

void ViewBoard::setZoomBox(bool on) {
  for (TfraChannel *v : m_views)
    v->pltChannel->setZoomBoxMode(on);
  if (m_xyChart)
    m_xyChart->setZoomBoxMode(on);
  m_compare->setZoomBoxMode(on);
}

void ViewBoard::setDataCursor(bool on) {
  auto apply = [on](PlotChart *p) {
    p->setCursorVisible(on);
    p->requestReplot();
  };
  for (TfraChannel *v : m_views)
    apply(v->pltChannel);
  if (m_xyChart)
    apply(m_xyChart);
  apply(m_compare);
}

void ViewBoard::setMeasuring(bool on) {
  m_measuring = on;
  for (TfraChannel *v : m_views)
    v->pltChannel->setMeasuring(on);
  m_compare->setMeasuring(on);
}

void ViewBoard::alignPanels() {
  for (TfraChannel *v : m_views) {
    v->setPanelRightSpace(m_ctx.options.PanelRightSpaceDefault);
    v->setPanelTopSpace(m_ctx.options.PanelTopSpaceDefault);
  }
}

void ViewBoard::clearAllData() {
  for (TfraChannel *v : m_views) {
    for (int t = 0; t < kChannelChartTraces; ++t) {
      v->pltChannel->clearTrace(t);
      v->pltChannel->setTraceInLegend(t, false);
    }
    v->pltChannel->requestReplot();
  }
  for (int t = 0; t < kCompareChartTraces; ++t)
    m_compare->clearTrace(t);
  m_compare->requestReplot();
}

void ViewBoard::setSampling(bool on) {
  for (size_t i = 0; i < m_views.size(); ++i) {
    TfraChannel *v = m_views[i];
    v->setSampling(on);
    if (on)
      v->pltChannel->setTraceInLegend(0, true);
    v->setBaseButton(on, m_channels[i]->BaseValue() != 0.0);
  }
}

void ViewBoard::SetupCompareView() {
  const Options &o = m_ctx.options;
  PlotChart *p = m_compare;
  p->setBackgroundColor(ColorFromWin(o.CurveBkColor));
  p->setGridColor(ColorFromWin(o.CurveGridColor));
  p->setMinorGridColor(ChartAxis::X, ColorFromWin(o.CurveGridColor));
  p->setMinorGridColor(ChartAxis::Y, ColorFromWin(o.CurveGridColor));
  const QColor text = ColorFromWin(o.CurveTextColor);
  for (ChartAxis a : {ChartAxis::X, ChartAxis::Y}) {
    p->setAxisLabelColor(a, text);
    p->setAxisTitleColor(a, text);
    p->setAxisLineColor(a, text);
  }
  p->setTitleColor(text);
  p->setAxisRange(ChartAxis::X, 0, static_cast<double>(o.TimeWindowCount));
  p->setAxisTitle(ChartAxis::X, QStringLiteral("时间(") + TimeUnitName(o.TimeWindowUnit) + ')');
  // Trace t of the compare chart is channel t.
  ChannelFormats &formats = m_ctx.formats;
  p->setMeasureFormat([&formats](int trace) { return formats.precision(trace); }, measureTimeUnit(o.TimeWindowUnit));
  for (int t = 0; t < kMeterSlots; ++t) {
    p->setTraceVisible(t, o.TraceVisible);
    p->setMarkersVisible(t, o.MarkersVisible);
  }
  ProfileStore &s = *m_ctx.settings;
  const QString &A = Sections::ChannelAll;
  const QString mainTitle = s.readString(A, QStringLiteral("MainTitle"), QStringLiteral("合并显示曲线图"));
  p->setTitle(mainTitle);
  p->setTitleVisible(!mainTitle.trimmed().isEmpty());
  p->setAxisTitle(ChartAxis::Y, TChannel::ValueAxisTitle(s.readString(A, QStringLiteral("Title"), QStringLiteral("总通道")),
                                                         s.readString(A, QStringLiteral("MeasureUnit"), QString())));
  const double hi = s.readFloat(A, QStringLiteral("RangeMax"), 50);
  const double lo = s.readFloat(A, QStringLiteral("RangeMin"), 0);
  const double min = hi > lo ? lo : hi;
  const double span = hi > lo ? hi - lo : lo - hi;
  p->setAxisRange(ChartAxis::Y, min, span);
  p->setDesiredStart(ChartAxis::Y, min);
  p->setDesiredIncrement(ChartAxis::Y, span / 10);
  p->requestReplot();
}

void ViewBoard::FillCompareView() {
  for (int t = 0; t < kCompareChartTraces; ++t) {
    m_compare->clearTrace(t);
    m_compare->setTraceInLegend(t, false);
  }
  for (size_t i = 0; i < m_views.size() && static_cast<int>(i) < kCompareChartTraces; ++i) {
    PlotChart *src = m_views[i]->pltChannel;
    const int trace = static_cast<int>(i);
    m_compare->setTraceInLegend(trace, true);
    // Shared, not copied; the comparison shows the samples there are now, as a copy did.
    m_compare->setTraceStore(trace, src->traceStore(0), src->traceXScale(0), true);
  }
  m_compare->requestReplot();
  m_pages.pageControl->setTabVisible(2, true);
  m_pages.pageControl->setCurrentIndex(2);
}

bool ViewBoard::linkMove() const { return m_ctx.options.LinkMove; }

bool ViewBoard::cursorToolDown() const {
  return m_commands.cursorToolDown && m_commands.cursorToolDown();
}

void ViewBoard::openChannelProperties(int channel, int page) {
  if (m_commands.openChannelProperties)
    m_commands.openChannelProperties(channel, page);
}

void ViewBoard::clearChannelData() {
  if (m_commands.clearChannelData)
    m_commands.clearChannelData();
}

void ViewBoard::exportChannel(TfraChannel *v, exportlayout::ExportFormat format) {
  if (m_commands.exportChannel)
    m_commands.exportChannel(v, format);
}

void ViewBoard::exportAllChannels(exportlayout::ExportFormat format) {
  if (m_commands.exportAllChannels)
    m_commands.exportAllChannels(format);
}

void ViewBoard::freezeDrawing(bool frozen) {
  if (m_pages.window)
    m_pages.window->setUpdatesEnabled(!frozen);
}
