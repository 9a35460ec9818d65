#include "app/TfrmMain.h"

#include "app/AppContext.h"
#include "app/FileAssociation.h"
#include "app/HelpTopics.h"
#include "app/MessageBoxes.h"
#include "app/SettingsCommit.h"
#include "comm/TfrmConfigure.h"
#include "comm/TfrmConfigureShowUnit.h"
#include "dialogs/TfrmSetup.h"
#include "app/TAboutBox.h"
#include "acquisition/AcquisitionControl.h"
#include "acquisition/DataFile.h"
#include "dialogs/ChartExport.h"
#include "dialogs/ExportLayout.h"
#include "dialogs/PrintWindow.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/TfraXYChannel.h"
#include "dialogs/TfrmEditXYChannel.h"
#include "acquisition/RecordingFiles.h"
#include "dialogs/TfrmEditChannel.h"
#include "dialogs/TfrmEditChannelAll.h"
#include "comm/PollingEngine.h"
#include "comm/SearchCommand.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabBar>
#include <QProgressBar>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

TfrmMain::TfrmMain(AppContext &ctx, const QStringList &args, QWidget *parent)
    : QMainWindow(parent), m_ctx(ctx) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("仪表数据采集软件"));
  setProperty("helpContext", kHelpMainWindow);
  buildUi();
  connectCommands();
  FormCreate(args);
}

TfrmMain::~TfrmMain() {
  // Threads end before the views and the context they feed; the window no longer follows them.
  if (m_acquisition)
    m_acquisition->disconnect(this);
  m_acquisition.reset();
  m_files.reset();
  XYView.reset();
}

void TfrmMain::FormCreate(const QStringList &args) {
  // 1. A data file named on the command line is remembered and opened at first showing.
  if (!args.isEmpty()) {
    const QString &a = args.first();
    m_ctx.startupDataFile = IsDataFileName(a) ? a : QString();
  }
  // 2. The look comes from the platform style; there is no skin store.
  // 3./4. The program directory was resolved by main; the settings object lives in the context.
  if (!m_ctx.settings)
    m_ctx.settings = std::make_unique<ProfileStore>(m_ctx.paths.settingsFile);
  ProfileStore &s = *m_ctx.settings;
  Options &o = m_ctx.options;

  // 5.
  m_appName = s.readString(Sections::System, QStringLiteral("AppName"),
                           QStringLiteral("ZERVO Data Acquisition"));
  // 6. First start: register the data file type and remember that it is done.
  if (s.readBool(Sections::System, QStringLiteral("FirstRun"), true)) {
    // A failure here must not stop the start; Reg then records that nothing is installed.
    InstallFileAssociation(nullptr);
    s.writeBool(Sections::System, QStringLiteral("FirstRun"), false);
  } else {
    MenuReg->setChecked(s.readBool(Sections::System, QStringLiteral("Reg"), true));
  }
  // 7.-13. and 18./19.: every mirror, read in start-up order.
  o.load(s, m_ctx.paths.dataFolder);
  // 9. The search ports take the baud rate when the search opens them.
  // 11.
  btnLinkMove->setChecked(o.LinkMove);
  // 14.
  m_ctx.meters.load(s);
  // 15.
  createBoard();
  BuildChannelViews(m_ctx.meters.MeterAmount);
  m_acquisition = std::make_unique<AcquisitionControl>(m_ctx, *this, *m_board);
  m_files = std::make_unique<RecordingFiles>(m_ctx, *this, *m_board, *m_acquisition);
  connect(m_acquisition.get(), &AcquisitionControl::started, this, [this] {
    ReadThread = m_acquisition->readThread();
    setWindowState(WindowState::Recording);
  });
  connect(m_acquisition.get(), &AcquisitionControl::stopped, this, [this] {
    ReadThread = nullptr;
    // A timed end may come while an export runs; the export returns to idle itself.
    if (m_state == WindowState::Recording)
      setWindowState(WindowState::Idle);
  });
  connectAlarms();
  connect(m_acquisition.get(), &AcquisitionControl::saveRequested, this, &TfrmMain::btnSaveClick);
  connect(m_acquisition.get(), &AcquisitionControl::publishingText, this, [this](const QString &t) {
    lblPublishing->setText(t);
    lblPublishing->setVisible(!t.isEmpty());
  });
  updateCommands();
  // 16.
  PageControl1->setCurrentIndex(0);
  // 17.
  createXYView();
  // 18.
  ShowXYPage(o.XYChannelShow);
  btnXYCurve->setChecked(o.XYChannelShow);
  // 20. F1 anywhere in the main window asks for help on the focused control.
  auto *f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  f1->setContext(Qt::WindowShortcut);
  connect(f1, &QShortcut::activated, this, [this] { FormKeyDown(Qt::Key_F1); });
}

void TfrmMain::connectCommands() {
  connect(btnSetup, &QAction::triggered, this, &TfrmMain::btnSetupClick);
  connect(MenuSetComm, &QAction::triggered, this, &TfrmMain::btnSetupClick);
  connect(MenuSetDisplay, &QAction::triggered, this, &TfrmMain::MenuSetDisplayClick);
  connect(MenuSetSave, &QAction::triggered, this, &TfrmMain::MenuSetSaveClick);
  connect(MenuHelpAbout, &QAction::triggered, this, &TfrmMain::MenuHelpAboutClick);
  connect(MenuExit, &QAction::triggered, this, &TfrmMain::MenuExitClick);
  connect(btnConfigure, &QAction::triggered, this, &TfrmMain::btnConfigureClick);
  connect(MenuConfigure, &QAction::triggered, this, &TfrmMain::btnConfigureClick);
  connect(btnSave, &QAction::triggered, this, &TfrmMain::btnSaveClick);
  connect(MenuReg, &QAction::triggered, this, &TfrmMain::MenuRegClick);
  connect(MenuHelp, &QAction::triggered, this, &TfrmMain::MenuHelpClick);
  connect(btnLinkMove, &QAction::triggered, this, &TfrmMain::btnLinkMoveClick);
  connect(btnXYCurve, &QAction::triggered, this, &TfrmMain::btnXYCurveClick);
  connect(MenuWebAddress, &QAction::triggered, this,
          [] { QDesktopServices::openUrl(QUrl(kWebAddress)); });

  connect(btnMeterConfigure, &QAction::triggered, this, &TfrmMain::btnMeterConfigureClick);
  connect(MenuMeterConfigure, &QAction::triggered, this, &TfrmMain::btnMeterConfigureClick);
  connect(MenuChannelClear, &QAction::triggered, this, &TfrmMain::MenuChannelClearClick);
  connect(btnStart, &QAction::triggered, this, &TfrmMain::btnStartClick);
  connect(MenuStart, &QAction::triggered, this, &TfrmMain::btnStartClick);
  connect(btnStop, &QAction::triggered, this, &TfrmMain::btnStopClick);
  connect(MenuStop, &QAction::triggered, this, &TfrmMain::btnStopClick);
  connectTools();

  auto open = [this](int batch) {
    if (commandAllowed(&CommandStates::open))
      m_files->Open(batch);
  };
  connect(btnOpen, &QAction::triggered, this, [open] { open(0); });
  connect(MenuOpen, &QAction::triggered, this, [open] { open(0); });
  for (int b = 0; b < 5; ++b)
    connect(MenuLoadChannel[b], &QAction::triggered, this, [open, b] { open(b); });

  connect(btnPrint, &QAction::triggered, this, &TfrmMain::btnPrintClick);
  connect(MenuPrint, &QAction::triggered, this, &TfrmMain::btnPrintClick);
}

void TfrmMain::createBoard() {
  ViewBoard::Pages pages{PageControl1, pnlRight, pnlLeft, pnlCenter, this};
  ViewBoard::Commands cmd;
  // The dialogs are made after the main window; look them up when asked.
  cmd.openChannelProperties = [this](int ch, int page) {
    if (m_dialogs.frmEditChannel && commandAllowed(&CommandStates::properties))
      m_dialogs.frmEditChannel->showFor(ch, page);
  };
  cmd.openCompareProperties = [this] {
    if (m_dialogs.frmEditChannelAll && commandAllowed(&CommandStates::properties))
      m_dialogs.frmEditChannelAll->exec();
  };
  cmd.clearChannelData = [this] { MenuChannelClearClick(); };
  cmd.exportChannel = [this](TfraChannel *v, exportlayout::ExportFormat format) {
    QPointer<TfraChannel> view(v);
    runExport([this, view, format] {
      if (view)
        ExportChartData(this, m_ctx, *view->pltChannel,
                        exportlayout::ChannelChartFileName(view->pltChannel->title(), QDateTime::currentDateTime()),
                        exportHooks(), format);
    });
  };
  cmd.exportAllChannels = [this](exportlayout::ExportFormat format) { exportAllChannels(format); };
  cmd.cursorToolDown = [this] { return btnCursor->isChecked(); };
  cmd.releaseZoomBox = [this] { btnZoomBox->setChecked(false); };
  m_board = std::make_unique<ViewBoard>(m_ctx, pages, std::move(cmd));
}

void TfrmMain::createXYView() {
  XYView = std::make_unique<TfraXYChannel>(m_ctx, pnlLeft);
  TfraXYChannel::Hooks h;
  h.openProperties = [this](int page) {
    if (m_dialogs.frmEditXYChannel && commandAllowed(&CommandStates::properties))
      m_dialogs.frmEditXYChannel->execOnPage(page);
  };
  h.clearChannelData = [this] { MenuChannelClearClick(); };
  h.exportChart = [this](PlotChart *c, const QString &name, exportlayout::ExportFormat format) {
    runExport([&] { ExportChartData(this, m_ctx, *c, name, exportHooks(), format); });
  };
  XYView->setHooks(std::move(h));
  TfraXYChannel *xy = XYView.get();
  m_board->setXYView(xy->chart(), [xy] { xy->SetupXYView(); });
  m_acquisition->setXYHooks({[xy] { return xy->startAcquisition(); },
                             [xy](std::span<const TSampleRecord> r) { xy->samplesShown(r); }});
  m_files->setXYHooks({[xy](int batch, int n) { return xy->beginReplay(batch, n); },
                       [xy](std::span<const TSampleRecord> r, std::vector<QPointF> &p) { xy->pairSamples(r, p); },
                       [xy](const std::vector<QPointF> &p) { xy->addReplayPoints(p); },
                       [xy] { xy->clearChannelData(); }});
  xy->SetupXYView();
}

void TfrmMain::BuildChannelViews(int count) { m_board->BuildChannelViews(count); }

TfraChannel *TfrmMain::ActivePlot() const { return m_board ? m_board->ActivePlot() : nullptr; }

void TfrmMain::connectTools() {
  connect(btnZoomInX, &QAction::triggered, this, [this] { m_board->zoom(ChartAxis::X, 0.8); });
  connect(btnZoomOutX, &QAction::triggered, this, [this] { m_board->zoom(ChartAxis::X, 1.25); });
  connect(btnZoomInY, &QAction::triggered, this, [this] { m_board->zoom(ChartAxis::Y, 0.8); });
  connect(btnZoomOutY, &QAction::triggered, this, [this] { m_board->zoom(ChartAxis::Y, 1.25); });
  connect(btnZoomToFitY, &QAction::triggered, this, [this] { m_board->zoomToFit(); });
  connect(btnResume, &QAction::triggered, this, [this] { m_board->resetScale(); });
  connect(btnZoomBox, &QAction::triggered, this, [this](bool on) { m_board->setZoomBox(on); });
  connect(btnCursor, &QAction::triggered, this, [this](bool on) { m_board->setDataCursor(on); });
  // One state for the button and the menu item.
  auto measure = [this](bool on) {
    if (on && !commandAllowed(&CommandStates::measure))
      on = false;
    btnMeasure->setChecked(on);
    MenuMeasure->setChecked(on);
    m_board->setMeasuring(on);
  };
  connect(btnMeasure, &QAction::triggered, this, measure);
  connect(MenuMeasure, &QAction::triggered, this, measure);
  connect(btnVertical, &QAction::triggered, this, [this] { m_board->arrangeButton(0); });
  connect(btnHorizontal, &QAction::triggered, this, [this] { m_board->arrangeButton(1); });
  connect(btnChannelAllDisplay, &QAction::triggered, this, [this] { m_board->FillCompareView(); });
  connect(N4, &QAction::triggered, this, [this] { m_board->FillCompareView(); });
  connect(A1, &QAction::triggered, this, [this] { m_board->alignPanels(); });
  connect(MenuAlarmLog, &QAction::triggered, this, &TfrmMain::showAlarmLog);

  PagePopupMenu = new QMenu(this);
  NpnlLeftDisplay = PagePopupMenu->addAction(QStringLiteral("X/Y曲线"));
  NpnlLeftDisplay->setObjectName(QStringLiteral("NpnlLeftDisplay"));
  NpnlLeftDisplay->setCheckable(true);
  NpnlCenterDisplay = PagePopupMenu->addAction(QStringLiteral("通道比较"));
  NpnlCenterDisplay->setObjectName(QStringLiteral("NpnlCenterDisplay"));
  NpnlCenterDisplay->setCheckable(true);
  connect(PagePopupMenu, &QMenu::aboutToShow, this,
          [this] { NpnlCenterDisplay->setChecked(PageControl1->isTabVisible(2)); });
  connect(NpnlLeftDisplay, &QAction::triggered, this,
          [this] { ShowXYPage(!m_ctx.options.XYChannelShow); });
  connect(NpnlCenterDisplay, &QAction::triggered, this, [this] {
    if (PageControl1->isTabVisible(2)) {
      PageControl1->setTabVisible(2, false);
      NpnlCenterDisplay->setChecked(false);
    } else {
      NpnlCenterDisplay->setChecked(true);
      m_board->FillCompareView();
    }
  });
  PageControl1->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(PageControl1->tabBar(), &QWidget::customContextMenuRequested, this,
          [this](const QPoint &p) { PagePopupMenu->popup(PageControl1->tabBar()->mapToGlobal(p)); });
}

void TfrmMain::setDialogs(const Dialogs &d) {
  m_dialogs = d;
  if (d.frmConfigureShowUnit && !m_search) {
    SearchCommand::Hooks hooks;
    hooks.setStatusText = [this](const QString &t) { setPanelText(1, t); };
    hooks.buildChannelViews = [this](int n) { BuildChannelViews(n); };
    hooks.selectFirstTab = [this] { PageControl1->setCurrentIndex(0); };
    m_search = new SearchCommand(m_ctx, *d.frmConfigureShowUnit, std::move(hooks), this);
    d.frmConfigureShowUnit->setStatsSource([this] {
      return m_acquisition ? m_acquisition->engine().allStats() : QList<PortStats>{};
    });
    d.frmConfigureShowUnit->setPublishingSource([this] {
      return m_acquisition && m_acquisition->publisher() ? m_acquisition->publisher()->summaryText() : QString();
    });
  }
}

void TfrmMain::setWindowState(WindowState state) {
  m_state = state;
  updateCommands();
}

void TfrmMain::setSaveAvailable(bool available) {
  m_saveAvailable = available;
  updateCommands();
}

bool TfrmMain::otherWorkRunning() const { return nestedWorkRunning(); }

bool TfrmMain::nestedWorkRunning() const {
  return m_state == WindowState::Searching || m_state == WindowState::Exporting || m_state == WindowState::Opening;
}

void TfrmMain::setOpening(bool opening) {
  if (opening) {
    setWindowState(WindowState::Opening);
  } else if (m_state == WindowState::Opening) {
    setWindowState(WindowState::Idle);
    closeIfPending();
  }
}

// The one place that decides which commands the window offers.
void TfrmMain::updateCommands() {
  const CommandStates c = CommandsFor(m_state, m_saveAvailable);
  auto set = [](std::initializer_list<QAction *> actions, bool on) {
    for (QAction *a : actions)
      if (a)
        a->setEnabled(on);
  };
  set({btnMeterConfigure, MenuMeterConfigure}, c.meterSearch);
  set({btnConfigure, MenuConfigure}, c.meterInfo);
  set({btnStart, MenuStart}, c.start);
  set({btnStop, MenuStop}, c.stop);
  set({btnOpen, MenuOpen, MenuLoadChannel[0], MenuLoadChannel[1], MenuLoadChannel[2], MenuLoadChannel[3],
       MenuLoadChannel[4]},
      c.open);
  set({btnSave}, c.save);
  set({btnPrint, MenuPrint}, c.print);
  set({btnSetup, MenuSetComm, MenuSetDisplay, MenuSetSave}, c.settings);
  set({MenuHelpAbout}, c.about);
  set({MenuChannelClear}, c.clearData);
  set({btnMeasure, MenuMeasure}, c.measure);
}

bool TfrmMain::commandAllowed(bool CommandStates::*command) {
  if (CommandsFor(m_state, m_saveAvailable).*command)
    return true;
  // Opened, not executed: a box with a loop of its own would hold up a running search.
  auto *box = new QMessageBox(QMessageBox::Information, Msg::kHint, RefusalText(m_state), QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  return false;
}

void TfrmMain::closeIfPending() {
  if (!m_closePending || nestedWorkRunning())
    return;
  m_closePending = false;
  // From the main loop: the search's or the export's own event loops have unwound by then.
  QTimer::singleShot(0, this, &QWidget::close);
}

void TfrmMain::showSavePathSetting() {
  TfrmSetup *setup = m_dialogs.frmSetup;
  if (!setup)
    return;
  setup->PageControl1->setCurrentIndex(2);
  QTimer::singleShot(0, setup->edtSavePath, [setup] { setup->edtSavePath->setFocus(); });
  setup->exec();
}

void TfrmMain::btnMeterConfigureClick() {
  if (!m_search || !commandAllowed(&CommandStates::meterSearch))
    return;
  setWindowState(WindowState::Searching);
  (void)m_search->execute();
  setWindowState(WindowState::Idle);
  closeIfPending();
}

void TfrmMain::btnStartClick() {
  if (m_acquisition && commandAllowed(&CommandStates::start))
    m_acquisition->Start();
}

void TfrmMain::btnStopClick() {
  if (m_acquisition && m_acquisition->running())
    m_acquisition->Stop();
}

void TfrmMain::MenuChannelClearClick() {
  if (commandAllowed(&CommandStates::clearData))
    m_files->ClearChannelData();
}

void TfrmMain::runExport(const std::function<void()> &run) {
  if (!commandAllowed(&CommandStates::exportData))
    return;
  setWindowState(WindowState::Exporting);
  run();
  setWindowState(m_acquisition && m_acquisition->running() ? WindowState::Recording : WindowState::Idle);
  closeIfPending();
}

ExportHooks TfrmMain::exportHooks() {
  ExportHooks h;
  h.createProgressWindow = [this](int max, bool cancellable) { return CreateProgressWindow(max, cancellable); };
  return h;
}

void TfrmMain::exportAllChannels(exportlayout::ExportFormat format) {
  runExport([this, format] {
    std::vector<const PlotChart *> charts;
    for (int c = 0; c < std::min(m_ctx.meters.MeterAmount, m_board->viewCount()); ++c)
      charts.push_back(m_board->view(c)->pltChannel);
    ExportAllChannelData(this, m_ctx, charts,
                         exportlayout::AllChannelsFileName(m_ctx.options.FileNameHead, QDateTime::currentDateTime()),
                         exportHooks(), format);
  });
}

void TfrmMain::btnPrintClick() {
  if (!commandAllowed(&CommandStates::print))
    return;
  if (!m_printer)
    m_printer = std::make_unique<WindowPrinter>();
  m_printer->print(*this);
}

void TfrmMain::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (!m_shown) {
    m_shown = true;
    FormShow();
  }
}

void TfrmMain::FormShow() {
  // 1.
  if (m_dialogs.frmConfigureShowUnit)
    m_dialogs.frmConfigureShowUnit->frmConfigure1->prepareGrid();
  setPanelText(6, m_ctx.settings->readString(Sections::System, QStringLiteral("Company Name"),
                                             QStringLiteral("Corvane")) +
                      QStringLiteral("  "));
  btnXYCurve->setChecked(m_ctx.options.XYChannelShow);
  // 2.
  m_board->SetupCompareView();
  // 4.
  if (m_dialogs.frmSetup)
    setPanelText(4, QStringLiteral("波特率：") + m_dialogs.frmSetup->selectBaud(m_ctx.options.Baud));
  // 3. and what follows once the window is on the screen: a long file then opens under the
  // progress window instead of holding up the first paint.
  QTimer::singleShot(0, this, [this] {
    if (!m_ctx.startupDataFile.isEmpty())
      m_files->LoadByPath(m_ctx.startupDataFile);
    m_files->CheckUnfinishedRecording();
  });
}

void TfrmMain::resizeEvent(QResizeEvent *event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

void TfrmMain::FormResize() {
  if (m_board)
    m_board->windowResized();
}

void TfrmMain::closeEvent(QCloseEvent *event) {
  if (FormCloseQuery())
    event->accept();
  else
    event->ignore();
}

bool TfrmMain::FormCloseQuery() {
  if (nestedWorkRunning()) {
    // They run in event loops nested below us: a search is ended at once, an export or an open
    // finishes; then the close is asked again, with its questions.
    m_closePending = true;
    if (m_state == WindowState::Searching && m_search)
      m_search->abort();
    return false;
  }
  if (ReadThread) {
    Msg::show(this, QMessageBox::Warning, Msg::kHint, QStringLiteral("退出前请停止测量！"),
              QMessageBox::Ok);
    return false;
  }
  if (m_saveAvailable) {
    if (Msg::show(this, QMessageBox::Information, Msg::kHint,
                  QStringLiteral("上次采集数据未保存,现在保存吗？"),
                  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
      btnSaveClick();
  }
  if (Msg::show(this, QMessageBox::Question, Msg::kHint, QStringLiteral("确定要退出系统？"),
                QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
    return false;
  return !ReadThread;
}

void TfrmMain::MenuExitClick() {
  if (Msg::show(this, QMessageBox::Question, Msg::kHint, QStringLiteral("确定要退出系统？"),
                QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok)
    close();
}

void TfrmMain::btnSetupClick() {
  if (m_dialogs.frmSetup && commandAllowed(&CommandStates::settings))
    m_dialogs.frmSetup->exec();
}

void TfrmMain::MenuSetDisplayClick() {
  if (!m_dialogs.frmSetup || !commandAllowed(&CommandStates::settings))
    return;
  m_dialogs.frmSetup->PageControl1->setCurrentIndex(1);
  m_dialogs.frmSetup->exec();
}

void TfrmMain::MenuSetSaveClick() {
  if (!m_dialogs.frmSetup || !commandAllowed(&CommandStates::settings))
    return;
  m_dialogs.frmSetup->PageControl1->setCurrentIndex(2);
  m_dialogs.frmSetup->exec();
}

void TfrmMain::MenuHelpAboutClick() {
  if (m_dialogs.AboutBox && commandAllowed(&CommandStates::about))
    m_dialogs.AboutBox->exec();
}

void TfrmMain::btnConfigureClick() {
  TfrmConfigureShowUnit *w = m_dialogs.frmConfigureShowUnit;
  if (!w || !commandAllowed(&CommandStates::meterInfo))
    return;
  w->frmConfigure1->fillGrid(m_ctx.meters);
  w->exec();
}

void TfrmMain::btnSaveClick() {
  // The close question and the start prompt also save; only a running recording or open forbids it.
  if (m_state != WindowState::Recording && m_state != WindowState::Opening)
    m_files->Save();
}

FileAssociation TfrmMain::association() const {
  return FileAssociation(FileAssociation::defaultDataHome(), QCoreApplication::applicationFilePath(),
                         m_ctx.paths.shareDir);
}

bool TfrmMain::InstallFileAssociation(QString *error) {
  const bool ok = association().install(error);
  m_ctx.settings->writeBool(Sections::System, QStringLiteral("Reg"), ok);
  MenuReg->setChecked(ok);
  return ok;
}

bool TfrmMain::RemoveFileAssociation(QString *error) {
  const bool ok = association().remove(error);
  m_ctx.settings->writeBool(Sections::System, QStringLiteral("Reg"), !ok);
  MenuReg->setChecked(!ok);
  return ok;
}

void TfrmMain::MenuRegClick() {
  // The tick decides: a ticked item removes, an unticked one installs. From the menu the action
  // has toggled its tick before we run, so the tick it had is the opposite of the one it shows.
  const bool ticked = sender() == MenuReg ? !MenuReg->isChecked() : MenuReg->isChecked();
  SettingsCommit commit(*m_ctx.settings);
  QString error;
  const bool ok = ticked ? RemoveFileAssociation(&error) : InstallFileAssociation(&error);
  if (!ok)
    Msg::error(this, QStringLiteral("文件关联未能%1：%2").arg(ticked ? QStringLiteral("删除") : QStringLiteral("安装"), error));
  // Reg could not be written: the tick holds for this run, the next start reads the old value.
  commit.report(this);
}

void TfrmMain::MenuHelpClick() {
  // The manual opens through the desktop; a missing manual gives no message.
  QDesktopServices::openUrl(
      QUrl::fromLocalFile(m_ctx.paths.helpPage(QStringLiteral("help.html"))));
}

void TfrmMain::btnLinkMoveClick() {
  m_ctx.options.LinkMove = btnLinkMove->isChecked();
  m_ctx.settings->writeBool(Sections::System, QStringLiteral("LinkMove"), m_ctx.options.LinkMove);
}

void TfrmMain::btnXYCurveClick() {
  ShowXYPage(!m_ctx.options.XYChannelShow);
  if (m_ctx.options.XYChannelShow)
    PageControl1->setCurrentIndex(1);
}

void TfrmMain::ShowXYPage(bool show) {
  m_ctx.options.XYChannelShow = show;
  m_ctx.settings->writeBool(Sections::System, QStringLiteral("XYChannelShow"), show);
  PageControl1->setTabVisible(1, show);
  btnXYCurve->setChecked(show);
  if (NpnlLeftDisplay)
    NpnlLeftDisplay->setChecked(show);
  if (!show && PageControl1->currentIndex() == 1)
    PageControl1->setCurrentIndex(0);
}

void TfrmMain::FormKeyDown(int key) {
  if (key != Qt::Key_F1)
    return;
  const QWidget *w = QApplication::focusWidget();
  int context = 0;
  if (w && isAncestorOf(w))
    context = w->property("helpContext").toInt();
  FormHelp(context);
}

void TfrmMain::FormHelp(int helpContext) {
  const QString page = HelpPageForContext(helpContext);
  emit helpRequested(helpContext, page);
  const QString path = m_ctx.paths.helpPage(page);
  if (!QFileInfo::exists(path)) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("仪表数据采集软件"),
                    QStringLiteral("help.chm 帮助文件不存在或者文件格式损坏！"), QMessageBox::Ok,
                    this);
    box.exec();
    return;
  }
  // One help window for the whole run: every request shows its page in it.
  auto *dlg = findChild<QDialog *>(QStringLiteral("helpWindow"), Qt::FindDirectChildrenOnly);
  if (!dlg) {
    dlg = new QDialog(this);
    dlg->setObjectName(QStringLiteral("helpWindow"));
    dlg->setWindowTitle(QStringLiteral("帮助"));
    dlg->resize(720, 560);
    auto *browser = new QTextBrowser(dlg);
    browser->setObjectName(QStringLiteral("helpBrowser"));
    browser->setOpenExternalLinks(true);
    auto *l = new QVBoxLayout(dlg);
    l->addWidget(browser);
  }
  dlg->findChild<QTextBrowser *>(QStringLiteral("helpBrowser"))->setSource(QUrl::fromLocalFile(path));
  dlg->show();
  dlg->raise();
  dlg->activateWindow();
}

void TfrmMain::setPanelText(int panel, const QString &text) {
  if (panel >= 0 && panel < static_cast<int>(m_panels.size()))
    m_panels[static_cast<size_t>(panel)]->setText(text);
}

QString TfrmMain::panelText(int panel) const {
  if (panel >= 0 && panel < static_cast<int>(m_panels.size()))
    return m_panels[static_cast<size_t>(panel)]->text();
  return {};
}

QProgressBar *TfrmMain::CreateProgressWindow(int maximum, bool cancellable) {
  return CreateExportProgressWindow(maximum, cancellable);
}
