#pragma once

#include "acquisition/RecordingHost.h"
#include "app/WindowCommands.h"
#include "dialogs/TableExport.h"

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>

class FileAssociation;
class SearchCommand;
class AcquisitionControl;
class RecordingFiles;
class WindowPrinter;
struct ExportHooks;
class ViewBoard;
class AlarmLogWindow;
class TfraChannel;
class TfraXYChannel;
class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QTabWidget;
class QToolBar;
class QWidget;
struct AppContext;
class TfrmEditChannel;
class TfrmConfigureShowUnit;
class TfrmSetup;
class TAboutBox;
class TfrmEditXYChannel;
class TfrmEditChannelAll;

// The main window ("仪表数据采集软件"). It stays thin: its handlers keep their familiar names and
// hand the work to the subsystem that owns it. It has one state (idle, searching, recording,
// exporting, opening); updateCommands() alone enables its buttons and menu items from that state.
class TfrmMain : public QMainWindow, public RecordingHost {
  Q_OBJECT
public:
  // Construction runs FormCreate. args are the command-line arguments without the program name.
  TfrmMain(AppContext &ctx, const QStringList &args, QWidget *parent = nullptr);
  ~TfrmMain() override;

  // The windows created after the main window, handed over once they exist.
  struct Dialogs {
    TfrmEditChannel *frmEditChannel = nullptr;
    TfrmConfigureShowUnit *frmConfigureShowUnit = nullptr;
    TfrmSetup *frmSetup = nullptr;
    TAboutBox *AboutBox = nullptr;
    TfrmEditXYChannel *frmEditXYChannel = nullptr;
    TfrmEditChannelAll *frmEditChannelAll = nullptr;
  };
  void setDialogs(const Dialogs &d);
  [[nodiscard]] const Dialogs &dialogs() const { return m_dialogs; }

  [[nodiscard]] const QString &AppName() const { return m_appName; }
  [[nodiscard]] const QString &WorkFile() const { return m_workFile; }
  void setWorkFile(const QString &f) override { m_workFile = f; }

  [[nodiscard]] WindowState windowState() const { return m_state; }
  // Enters the state and sets every command's enabled state from it.
  void setWindowState(WindowState state);

  // ---- RecordingHost
  [[nodiscard]] QWidget *dialogParent() override { return this; }
  [[nodiscard]] QString workFile() const override { return m_workFile; }
  [[nodiscard]] int batchIndex() const override { return BatchIndex; }
  void setBatchIndex(int batch) override { BatchIndex = batch; }
  [[nodiscard]] bool saveAvailable() const override { return m_saveAvailable; }
  void setSaveAvailable(bool available) override;
  [[nodiscard]] bool otherWorkRunning() const override;
  void setOpening(bool opening) override;
  [[nodiscard]] QProgressBar *createProgressWindow(int maximum) override { return CreateProgressWindow(maximum); }
  void showSavePathSetting() override;

  // Status bar panels 0 to 6.
  void setPanelText(int panel, const QString &text) override;
  [[nodiscard]] QString panelText(int panel) const;

  // A borderless window with a progress bar, for long exports; a cancellable one has a cancel
  // button (see CreateExportProgressWindow). The caller frees the bar's parent.
  QProgressBar *CreateProgressWindow(int maximum, bool cancellable = false);

  // The view that last had the focus, or none; never a view freed by a rebuild.
  [[nodiscard]] TfraChannel *ActivePlot() const;
  [[nodiscard]] ViewBoard *board() const { return m_board.get(); }
  [[nodiscard]] AlarmLogWindow *alarmLogWindow() const { return m_alarmLog; }
  [[nodiscard]] SearchCommand *search() const { return m_search; }
  [[nodiscard]] AcquisitionControl *acquisition() const { return m_acquisition.get(); }
  [[nodiscard]] RecordingFiles *files() const { return m_files.get(); }
  void BuildChannelViews(int count);
  // The one X/Y view.
  std::unique_ptr<TfraXYChannel> XYView;

  // The trace (0 to 4) that loaded data goes to; live data always goes to trace 0.
  int BatchIndex = 0;

  // The acquisition's read thread; it exists exactly while a recording runs.
  QPointer<QObject> ReadThread;

  void ShowXYPage(bool show);

  // Registers or removes the data file type with the desktop; writes Reg and the menu tick.
  bool InstallFileAssociation(QString *error);
  bool RemoveFileAssociation(QString *error);

  // Tool bar buttons and menu items, by their object names.
  QToolBar *ToolBar1 = nullptr;
  QAction *btnMeterConfigure = nullptr, *btnConfigure = nullptr, *btnStart = nullptr,
          *btnStop = nullptr, *btnOpen = nullptr, *btnSave = nullptr, *btnPrint = nullptr,
          *btnSetup = nullptr, *btnCursor = nullptr, *btnLinkMove = nullptr, *btnResume = nullptr,
          *btnZoomToFitY = nullptr, *btnZoomInX = nullptr, *btnZoomOutX = nullptr,
          *btnZoomInY = nullptr, *btnZoomOutY = nullptr, *btnZoomBox = nullptr,
          *btnVertical = nullptr, *btnHorizontal = nullptr, *btnXYCurve = nullptr,
          *btnChannelAllDisplay = nullptr, *btnMeasure = nullptr;
  QAction *MenuMeterConfigure = nullptr, *MenuStart = nullptr, *MenuStop = nullptr,
          *MenuOpen = nullptr, *MenuPrint = nullptr, *MenuExit = nullptr,
          *MenuLoadChannel[5] = {}, *MenuChannelClear = nullptr, *N4 = nullptr,
          *MenuConfigure = nullptr, *A1 = nullptr, *MenuMeasure = nullptr, *MenuSetComm = nullptr,
          *MenuSetDisplay = nullptr, *MenuSetSave = nullptr, *MenuReg = nullptr,
          *MenuHelp = nullptr, *MenuHelpAbout = nullptr, *MenuWebAddress = nullptr,
          *MenuAlarmLog = nullptr;
  QMenu *MenuLanguage = nullptr;
  QTabWidget *PageControl1 = nullptr;
  QWidget *pnlRight = nullptr, *pnlLeft = nullptr, *pnlCenter = nullptr;
  QMenu *PagePopupMenu = nullptr; // the page control's menu
  QAction *NpnlLeftDisplay = nullptr, *NpnlCenterDisplay = nullptr;

public slots:
  void FormShow();
  void MenuExitClick();
  void btnSetupClick();
  void MenuSetDisplayClick();
  void MenuSetSaveClick();
  void MenuHelpAboutClick();
  void btnConfigureClick();
  void btnSaveClick();
  void MenuRegClick();
  void MenuHelpClick();
  void btnLinkMoveClick();
  void btnXYCurveClick();
  void btnMeterConfigureClick();
  void btnStartClick();
  void btnStopClick();
  void btnPrintClick();
  void MenuChannelClearClick();
  void FormKeyDown(int key);
  void FormHelp(int helpContext);

signals:
  // Emitted with the page a help request resolved to, whether or not it could be shown.
  void helpRequested(int helpContext, const QString &page);

protected:
  void showEvent(QShowEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  void FormCreate(const QStringList &args);
  void FormResize();
  [[nodiscard]] bool FormCloseQuery();
  void buildUi();   // TfrmMainUi.cpp
  void buildMenu(); // TfrmMainUi.cpp
  void buildToolBar();
  void buildPages();
  void buildStatusBar();
  void connectCommands();
  void connectTools();
  void createBoard();
  void connectAlarms();
  void showAlarmLog();
  void createXYView();
  [[nodiscard]] FileAssociation association() const;
  [[nodiscard]] ExportHooks exportHooks();
  void exportAllChannels(exportlayout::ExportFormat format);
  // Runs an export in the exporting state.
  void runExport(const std::function<void()> &run);
  void updateCommands();
  // False, with a notice that does not block a running search, when the state forbids it.
  [[nodiscard]] bool commandAllowed(bool CommandStates::*command);
  // A close asked for while a search, an export or an open ran is asked again once it is over.
  void closeIfPending();
  // A search, an export or a long open runs in an event loop nested below the main one.
  [[nodiscard]] bool nestedWorkRunning() const;

  AppContext &m_ctx;
  Dialogs m_dialogs;
  QString m_appName;
  QString m_workFile;
  std::array<QLabel *, 7> m_panels{};
  QLabel *lblPublishing = nullptr; // MQTT publishing state and counts
  std::unique_ptr<ViewBoard> m_board;
  SearchCommand *m_search = nullptr;
  std::unique_ptr<AcquisitionControl> m_acquisition;
  std::unique_ptr<RecordingFiles> m_files;
  AlarmLogWindow *m_alarmLog = nullptr; // a child window, owned by this one
  std::unique_ptr<WindowPrinter> m_printer;
  bool m_shown = false;
  WindowState m_state = WindowState::Idle;
  bool m_saveAvailable = false;
  bool m_closePending = false;
};
