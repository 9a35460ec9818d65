#pragma once

#include "acquisition/SampleRecord.h"
#include "dialogs/TableExport.h"
#include "views/PanelDrag.h"

#include "views/XYPlotModel.h"

#include <QFrame>
#include <QPointer>

#include <functional>
#include <optional>
#include <span>
#include <vector>

class DotMatrixDisplay;
class PlotChart;
class QLabel;
class QMenu;
struct AppContext;

// The X/Y view: one channel's readings against another's. The frame itself is never shown; its
// chart pltXY fills the X/Y page given at construction and its information window (the current X
// and Y values) floats over the chart on that page.
//
// Points come from the sample stream: the read thread's user-interface side hands every sample to
// sampleShown() after the sample's own channel has shown it, and each sample of the X channel adds
// one point (see XYPairing), in arrival order, so the curve may run back along the X axis.
class TfraXYChannel : public QFrame {
  Q_OBJECT
public:
  // Commands of the popup menus that belong to the main window. Any of them may be left unset.
  struct Hooks {
    // The X/Y properties dialog, modally, on page 0 ("XY轴序号") or 1 ("信息显示窗").
    std::function<void(int page)> openProperties;
    std::function<void()> clearChannelData;
    // The one-chart spreadsheet export, under the given name, in the given format.
    std::function<void(PlotChart *chart, const QString &name, exportlayout::ExportFormat format)> exportChart;
  };

  TfraXYChannel(AppContext &ctx, QWidget *xyPage, QWidget *parent = nullptr);
  ~TfraXYChannel() override;
  TfraXYChannel(const TfraXYChannel &) = delete;
  TfraXYChannel &operator=(const TfraXYChannel &) = delete;

  void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

  PlotChart *pltXY = nullptr;
  QFrame *panel = nullptr;
  QFrame *pnlNowX = nullptr, *pnlNowY = nullptr;
  DotMatrixDisplay *iLCDCurrentValueX = nullptr, *iLCDCurrentValueY = nullptr;
  QLabel *lblUnitX = nullptr, *lblUnitY = nullptr;
  QMenu *PopupMenu1 = nullptr, *PopupMenu2 = nullptr;

  // The chart the view board's tools act on while the X/Y page shows.
  [[nodiscard]] PlotChart *chart() const { return pltXY; }

  // Applies the two channels' settings and the display settings (Sys.ini and the mirrors).
  void SetupXYView();

  // Acquisition start: decides from the mirrors and MeterAmount whether this acquisition feeds
  // the view; when it does, live data goes to trace 0, which is listed in the legend and emptied,
  // and both displays are emptied. Every slot is back to "no reading yet" either way.
  bool startAcquisition();
  [[nodiscard]] bool fed() const { return m_fed; }

  // Every sample, in ring order, after its channel has shown it. O(1).
  void sampleShown(int channel, double value);
  // A batch of them at once: the points in order, the displays once, with the latest values.
  void samplesShown(std::span<const TSampleRecord> records);

  // Replay of a data file of channelCount channels into trace `batch` (0 to 4): decides whether
  // the file feeds the view, and when it does lists the trace, empties it and both displays.
  bool beginReplay(int batch, int channelCount);
  // Each sample of the file, in file order; adds the points but leaves the displays alone.
  void replaySample(int channel, double value);
  // A replay pass shared by two threads, in two halves: the points a chunk makes
  // (touches only the pairing, so it may run on another thread while this one waits or does
  // other work), then adding them (on this thread).
  void pairSamples(std::span<const TSampleRecord> records, std::vector<QPointF> &points);
  void addReplayPoints(const std::vector<QPointF> &points);

  // The clear-channel-data command: while the view is fed, every trace emptied and taken out of
  // the legend, both displays emptied.
  void clearChannelData();

  // The trace that receives points (0 for live data, the batch of a replayed file).
  [[nodiscard]] int BatchIndex() const { return m_batch; }
  void setBatchIndex(int batch);

  // ---- published properties that have an effect
  [[nodiscard]] int PanelTopSpace() const { return m_panelTopSpace.value_or(panelTop()); }
  void setPanelTopSpace(int v);
  [[nodiscard]] int PanelRightSpace() const { return m_panelRightSpace.value_or(panelRight()); }
  void setPanelRightSpace(int v);

  // The display flags of the last set-up.
  [[nodiscard]] bool xShowNowValueX() const { return m_showX; }
  [[nodiscard]] bool xShowNowValueY() const { return m_showY; }
  [[nodiscard]] int xChannel() const { return m_pairing.xChannel(); }
  [[nodiscard]] int yChannel() const { return m_pairing.yChannel(); }

  static constexpr int kDesignLeft = 48;
  static constexpr int kDesignTop = 112;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void buildChart();
  void buildPanel();
  void buildMenus();
  void layoutPanel(int width);
  void feed(int channel, double value, bool showValues);
  void AddXYPoint(const std::optional<QPointF> &point, bool showValues);
  [[nodiscard]] QString displayText(int channel) const;
  void emptyDisplays();
  void endPanelDrag();
  [[nodiscard]] int panelTop() const;
  [[nodiscard]] int panelRight() const;

  AppContext &m_ctx;
  QWidget *m_host; // the X/Y page (or the frame itself without one)
  Hooks m_hooks;
  XYPairing m_pairing;
  bool m_fed = false;
  int m_batch = 0;
  bool m_showX = true;
  bool m_showY = true;
  // Unknown until first set, so that the first drag always persists the position.
  std::optional<int> m_panelTopSpace;
  std::optional<int> m_panelRightSpace;
  PanelDrag m_drag;
  // The chart and window live on the page; they go with the view if the view goes first.
  QPointer<QWidget> m_ownedChart;
  QPointer<QWidget> m_ownedPanel;
  bool m_destroying = false;
  QVector<double> m_batchX, m_batchY; // a batch's points, reused
};
