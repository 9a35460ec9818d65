#pragma once

#include "comm/TdmCom.h"

#include <QDialog>
#include <QList>
#include <QTimer>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class TfrmConfigure;
class MeterTable;

// The meter information window ("仪表信息"): the meter grid, a close button and the search's
// progress bar, hidden except while a search runs.
//
// Once an acquisition has run, the window also shows its communication diagnostics per port
// (good frames, rejected frames by reason, time-outs), refreshed while the window is open.
class TfrmConfigureShowUnit : public QDialog {
  Q_OBJECT
public:
  // The diagnostics of the current or last acquisition, one entry per port in use; empty when
  // none has run.
  using StatsSource = std::function<QList<PortStats>()>;

  explicit TfrmConfigureShowUnit(QWidget *parent = nullptr);
  TfrmConfigure *frmConfigure1 = nullptr;
  QPushButton *btnClose = nullptr;
  QProgressBar *iLedBar1 = nullptr;
  QLabel *lblDiagnostics = nullptr;
  QTableWidget *gridDiagnostics = nullptr;
  QLabel *lblPublishing = nullptr; // the MQTT publisher's state and counts, when publishing

  void setStatsSource(StatsSource source);
  // Empty text: nothing is published.
  void setPublishingSource(std::function<QString()> source) { m_publishing = std::move(source); }
  // Reads the source again; hides the diagnostics while a search runs or when there are none.
  void refreshDiagnostics();

  static constexpr int kRefreshMs = 500;

protected:
  void showEvent(QShowEvent *event) override;
  void hideEvent(QHideEvent *event) override;

private:
  StatsSource m_source;
  std::function<QString()> m_publishing;
  QTimer m_refresh;
};
