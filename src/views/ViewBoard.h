#pragma once

#include "views/PlotChart.h"
#include "views/TfraChannel.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QMenu;
class QTabWidget;
class TChannel;
struct AppContext;

// The main window's views: the channel views on the first page (with their channel objects),
// the compare chart on the third, and the chart tools that act on the page showing.
class ViewBoard : public QObject, public ChannelViewHost {
  Q_OBJECT
public:
  struct Pages {
    QTabWidget *pageControl = nullptr;
    QWidget *channelPage = nullptr; // pnlRight
    QWidget *xyPage = nullptr;      // pnlLeft
    QWidget *comparePage = nullptr; // pnlCenter
    QWidget *window = nullptr;      // frozen while linked panels move
  };
  // Commands the views reach that belong to others.
  struct Commands {
    std::function<void(int channel, int page)> openChannelProperties;
    std::function<void()> openCompareProperties;
    std::function<void()> clearChannelData;
    std::function<void(TfraChannel *, exportlayout::ExportFormat)> exportChannel;
    std::function<void(exportlayout::ExportFormat)> exportAllChannels;
    std::function<bool()> cursorToolDown;
    std::function<void()> releaseZoomBox;
  };

  ViewBoard(AppContext &ctx, Pages pages, Commands commands, QObject *parent = nullptr);
  ~ViewBoard() override;

  // Replaces all channel views and channel objects by `count` new ones, from the settings.
  void BuildChannelViews(int count);
  void ArrangeViews(int arrangeType);
  void SetupCompareView();
  // Copies every view's trace 0 into the compare chart and shows its page.
  void FillCompareView();

  // 0 channel page, 1 X/Y page (when its tab shows), 2 compare page.
  [[nodiscard]] int pageKind() const;
  // Zoom by a factor about the centre, with that axis's tracking switched off first.
  void zoom(ChartAxis axis, double factor);
  void zoomToFit();
  void resetScale();
  void setZoomBox(bool on);
  void setDataCursor(bool on);
  // The measuring markers on every channel chart and the compare chart, also on views built later.
  void setMeasuring(bool on);
  [[nodiscard]] bool measuring() const { return m_measuring; }
  void alignPanels();
  // Empties every trace of every chart (live and loaded batches) and hides them from the legends.
  void clearAllData();
  // The arrangement buttons: ignored while the active view is maximised.
  void arrangeButton(int arrangeType);
  // The main window changed size.
  void windowResized();

  // Colours, label format, axis titles and trace styles from the mirrors, on every view and the
  // compare chart.
  void applyDisplaySettings();
  void setTimeWindow(qint64 count);
  void rescaleTimeAxis(double factor);
  // Trace 0 of every channel draws from the recording file at `path` (written with
  // `fileChannels` channel records): only summaries stay in memory, the samples are read back
  // from the file. The traces must be empty. False, with the traces left as they are, when
  // the file cannot be opened.
  bool backTracesWithFile(const QString &path, int fileChannels, int timeUnit);
  // Acquisition start/stop: trace 0 in the legend, sampling flag, tare buttons.
  void setSampling(bool on);
  // Every chart of every page holds its replots (see PlotChart::setReplotHeld).
  void holdReplots(bool held);

  [[nodiscard]] int viewCount() const { return static_cast<int>(m_views.size()); }
  [[nodiscard]] TfraChannel *view(int i) const;
  [[nodiscard]] TChannel *channel(int i) const;
  [[nodiscard]] TfraChannel *ActivePlot() const { return m_activePlot; }
  [[nodiscard]] PlotChart *compareChart() const { return m_compare; }
  // The X/Y view's chart and its set-up, for the tools on the X/Y page.
  void setXYView(PlotChart *chart, std::function<void()> setup) {
    m_xyChart = chart;
    m_setupXY = std::move(setup);
  }
  QMenu *comparePopup = nullptr;

  // ---- ChannelViewHost
  void viewActivated(TfraChannel *view) override { m_activePlot = view; }
  [[nodiscard]] bool linkMove() const override;
  [[nodiscard]] bool cursorToolDown() const override;
  [[nodiscard]] QList<TfraChannel *> channelViews() const override;
  void arrangeViews() override;
  void openChannelProperties(int channel, int page) override;
  void clearChannelData() override;
  void exportChannel(TfraChannel *view, exportlayout::ExportFormat format) override;
  void exportAllChannels(exportlayout::ExportFormat format = exportlayout::ExportFormat::Xls) override;
  void freezeDrawing(bool frozen) override;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void buildCompareChart();
  void applyDisplayTo(TfraChannel *v);
  template <typename F> void forEachChartOfPage(F f);

  AppContext &m_ctx;
  Pages m_pages;
  Commands m_commands;
  std::vector<std::unique_ptr<TChannel>> m_channels;
  std::vector<TfraChannel *> m_views; // children of the channel page
  QPointer<TfraChannel> m_activePlot; // never dangles: cleared when the view goes
  PlotChart *m_compare = nullptr;
  QPointer<PlotChart> m_xyChart;
  std::function<void()> m_setupXY;
  bool m_measuring = false;
};
