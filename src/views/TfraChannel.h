#pragma once

#include "acquisition/AlarmRule.h"

#include "acquisition/ChannelView.h"
#include "dialogs/TableExport.h"
#include "views/PanelDrag.h"

#include <QFrame>
#include <QPointer>

class DotMatrixDisplay;
class PlotChart;
class QLabel;
class QMenu;
class QAction;
class QToolButton;
struct AppContext;
class TfraChannel;

enum class TFormStatus : int { fsNormal = 0, fsMaximized = 1 };

// What a channel view needs from the board that holds it.
class ChannelViewHost {
public:
  virtual ~ChannelViewHost() = default;
  virtual void viewActivated(TfraChannel *view) = 0;
  [[nodiscard]] virtual bool linkMove() const = 0;
  [[nodiscard]] virtual bool cursorToolDown() const = 0;
  [[nodiscard]] virtual QList<TfraChannel *> channelViews() const = 0;
  virtual void arrangeViews() = 0;
  // page: 0 the chart page, 1 the information window page, -1 whichever was shown last.
  virtual void openChannelProperties(int channel, int page) = 0;
  virtual void clearChannelData() = 0;
  virtual void exportChannel(TfraChannel *view, exportlayout::ExportFormat format) = 0;
  virtual void exportAllChannels(exportlayout::ExportFormat format) = 0;
  virtual void freezeDrawing(bool frozen) = 0;
};

// One channel: its time chart with a floating information window (live value on a dot-matrix
// display, unit, maximum, minimum). The channel object pushes everything into it.
class TfraChannel : public QFrame, public IChannelView {
  Q_OBJECT
public:
  TfraChannel(AppContext &ctx, ChannelViewHost &host, int channel, QWidget *parent = nullptr);
  ~TfraChannel() override;

  PlotChart *pltChannel = nullptr;
  QFrame *panel = nullptr;
  QFrame *pnlNow = nullptr, *pnlMax = nullptr, *pnlMin = nullptr;
  DotMatrixDisplay *iLCDCurrentValue = nullptr;
  QLabel *lblUnit = nullptr, *lblCurrentValue = nullptr, *Label2 = nullptr, *Label3 = nullptr,
         *lblMax = nullptr, *lblMin = nullptr, *lblBaseValue = nullptr;
  QFrame *tbControl = nullptr;
  QToolButton *btnOption = nullptr, *btnBase = nullptr;
  QMenu *PopupMenu1 = nullptr, *PopupMenu2 = nullptr;
  QAction *MenuMaximize = nullptr;

  // ---- properties
  [[nodiscard]] int ChannelNo() const { return m_channelNo; }
  void setChannelNo(int n) { m_channelNo = n; }
  [[nodiscard]] int PanelTopSpace() const { return m_panelTopSpace; }
  void setPanelTopSpace(int v);
  [[nodiscard]] int PanelRightSpace() const { return m_panelRightSpace; }
  void setPanelRightSpace(int v);
  [[nodiscard]] bool ShowNowValue() const { return m_showNow; }
  void setShowNowValue(bool v);
  [[nodiscard]] bool ShowMaxValue() const { return m_showMax; }
  void setShowMaxValue(bool v);
  [[nodiscard]] bool ShowMinValue() const { return m_showMin; }
  void setShowMinValue(bool v);
  [[nodiscard]] bool ShowButton() const { return m_showButton; }
  void setShowButton(bool v) { m_showButton = v; } // the strip stays hidden
  void setCurveBkColor(int c);
  void setCurveGridColor(int c);
  void setCurveTextColor(int c);
  [[nodiscard]] int PanelBkColor() const { return m_panelBk; }
  void setPanelBkColor(int c);
  [[nodiscard]] int PanelTextColor() const { return m_panelText; }
  void setPanelTextColor(int c);
  [[nodiscard]] bool Sampling() const { return m_sampling; }
  void setSampling(bool v) { m_sampling = v; }
  [[nodiscard]] TFormStatus FormStatus() const { return m_formStatus; }

  // Maximise over the page, or restore the arrangement.
  void toggleMaximize();
  // Puts the information window at PanelRightSpace / PanelTopSpace, kept whole inside the view.
  void placePanel();
  // The lowest view of a column keeps the X tick labels when the chart is short.
  void setLowestInColumn(bool lowest);
  // The tare toggle: enabled during an acquisition; down while a base is set.
  void setBaseButton(bool enabled, bool down);

  // ---- IChannelView
  void showSample(double value, double timeMs, int channel, qint64 record) override;
  void clearDisplay() override;
  void setChartTitle(const QString &text) override;
  void setValueAxisTitle(const QString &text) override;
  void setUnitCaption(const QString &unit, int panelWidth) override;
  void setValueAxis(double start, double span, double desiredStart, double increment) override;
  void setCurveColor(int winColor) override;
  void setBaseCaption(bool visible, const QString &text) override;
  [[nodiscard]] double timeAxisStart() const override;
  [[nodiscard]] double timeAxisSpan() const override;
  void setTimeAxisStart(double start) override;
  void setTimeAxisSpan(double span) override;

  // The channel's alarm limits: the chart shows them as dashed lines while the alarm is enabled.
  void setAlarmLimits(const AlarmLimits &limits);
  // In alarm the value display and the information window turn red.
  [[nodiscard]] bool Alarmed() const { return m_alarmed; }
  void setAlarmed(bool alarmed);

  // The value display text for a formatted value: right-aligned to 7 characters.
  [[nodiscard]] static QString DisplayText(const QString &formatted);

  // Shows the cursor's reading in the captions (also called for linked views).
  void showCursorReading();

signals:
  void baseToggled(int channel, bool down);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

private:
  void buildPanel();
  void buildMenus();
  void layoutPanel(int panelWidth);
  void paintCaptions(int winColor);
  void endPanelDrag();
  void pltChannelEnter();
  void pltChannelExit();
  void pltChannelMouseMoveDataCursor();

  AppContext &m_ctx;
  ChannelViewHost &m_host;
  int m_channelNo;
  int m_panelTopSpace = 2;
  int m_panelRightSpace = 2;
  bool m_showNow = true, m_showMax = true, m_showMin = true, m_showButton = false;
  int m_panelBk = 15780518;
  int m_panelText = 8421376;
  bool m_sampling = false;
  TFormStatus m_formStatus = TFormStatus::fsNormal;
  PanelDrag m_drag;
  bool m_destroying = false;
  bool m_alarmed = false;
  int m_captionColor = 15780518; // the panel colour shown while not in alarm (focus highlights it)
};
