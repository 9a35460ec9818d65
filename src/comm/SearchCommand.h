#pragma once

#include "comm/MeterSearch.h"
#include "comm/PortRegistry.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

struct AppContext;
class QWidget;
class TfrmConfigureShowUnit;

// The "搜索仪表" command: runs the meter search while the meter information window shows its
// progress, asks the operator about busy ports, reports the outcome, and ends with the window
// shown modally listing the meters found.
//
// The main window owns one (as a child) and calls execute() from btnMeterConfigureClick and
// MenuMeterConfigureClick; while running() is true an acquisition must not start.
class SearchCommand : public QObject {
  Q_OBJECT
public:
  // What the command needs from the main window.
  struct Hooks {
    std::function<void(const QString &)> setStatusText; // status bar panel 1
    std::function<void(int meterAmount)> buildChannelViews;
    std::function<void()> selectFirstTab;
  };

  static inline const QString kSearchingText = QStringLiteral("仪表搜索中，请等待...");
  static inline const QString kDoneText = QStringLiteral("仪表搜索完毕");
  static inline const QString kInfoCaption = QStringLiteral("仪表信息");
  static inline const QString kNothingFoundText = QStringLiteral("未搜索到仪表！");
  static inline const QString kNoPortsText =
      QStringLiteral("在本计算机中未搜索到有效串口，请检查计算机设备管理器！");
  static inline const QString kMeterLimitText = QStringLiteral("已找到10块仪表，其余仪表未加入！");
  static inline const QString kPortLimitText = QStringLiteral("串口超过21个，其余串口未搜索！");
  [[nodiscard]] static QString saveFailedText(const QString &path);

  // parent is also the parent of the message boxes.
  SearchCommand(AppContext &ctx, TfrmConfigureShowUnit &window, Hooks hooks,
                QWidget *parent = nullptr);
  ~SearchCommand() override;
  SearchCommand(const SearchCommand &) = delete;
  SearchCommand &operator=(const SearchCommand &) = delete;

  // The whole command; returns when the operator has closed the information window. A call
  // while the command runs does nothing and reports AlreadyRunning.
  SearchReport execute();
  [[nodiscard]] bool running() const { return m_running; }
  // Ends a running search as aborted (for closing the program while it runs).
  void abort();

  // Which devices the port registry maps (the system's serial ports by default).
  void setDeviceLister(PortRegistry::DeviceLister lister) { m_lister = std::move(lister); }
  // Wait and pause lengths of the search (200 ms and 100 ms by default).
  void setTiming(int waitMs, int pauseMs);

signals:
  void finished(SearchOutcome outcome);

private:
  void showSearching();
  void showResult(const SearchReport &report);
  [[nodiscard]] BusyPortAnswer askBusyPort(int comNumber);
  void setStatus(const QString &text) const;

  AppContext &m_ctx;
  TfrmConfigureShowUnit &m_window;
  Hooks m_hooks;
  QWidget *m_dialogParent;
  PortRegistry::DeviceLister m_lister = PortRegistry::systemSerialDevices;
  MeterSearchSettings m_timing; // only waitMs and pauseMs are taken from here
  QPointer<MeterSearch> m_search;
  bool m_running = false;
};
