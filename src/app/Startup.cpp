#include "app/Startup.h"

#include "acquisition/AcquisitionControl.h"
#include "acquisition/DataFileReader.h"
#include "app/AppContext.h"
#include "app/SelfCheck.h"
#include "app/TAboutBox.h"
#include "app/TfrmMain.h"
#include "app/TfrmWelcome.h"
#include "comm/PollingEngine.h"
#include "comm/TfrmConfigureShowUnit.h"
#include "dialogs/TfrmEditChannel.h"
#include "dialogs/TfrmEditChannelAll.h"
#include "dialogs/TfrmEditXYChannel.h"
#include "dialogs/TfrmSetup.h"
#include "views/TfraXYChannel.h"
#include "views/ViewBoard.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <QWidget>

#include <cstdio>

bool HintPause::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::ToolTip) {
    auto *w = qobject_cast<QWidget *>(watched);
    if (w && !w->toolTip().isEmpty()) {
      const auto *help = static_cast<QHelpEvent *>(event);
      QToolTip::showText(help->globalPos(), w->toolTip(), w, QRect(), m_ms);
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

std::unique_ptr<TfrmMain> CreateWindows(AppContext &ctx, const QStringList &args) {
  auto main = std::make_unique<TfrmMain>(ctx, args);
  TfrmMain *m = main.get();
  TfrmMain::Dialogs d;
  TfrmEditChannel::Hooks channelHooks;
  channelHooks.board = m->board();
  channelHooks.acquiring = [m] { return !m->btnStart->isEnabled(); };
  channelHooks.setupXYView = [m] { m->XYView->SetupXYView(); };
  d.frmEditChannel = new TfrmEditChannel(ctx, std::move(channelHooks), m);
  d.frmConfigureShowUnit = new TfrmConfigureShowUnit(m);
  TfrmSetup::Hooks hooks;
  hooks.writePanel = [m](int panel, const QString &text) { m->setPanelText(panel, text); };
  hooks.showXYPage = [m](bool show) { m->ShowXYPage(show); };
  hooks.applyDisplayToViews = [m] { m->board()->applyDisplaySettings(); };
  hooks.setTimeWindow = [m](qint64 count) { m->board()->setTimeWindow(count); };
  hooks.rescaleTimeAxis = [m](double factor) { m->board()->rescaleTimeAxis(factor); };
  hooks.setupXYView = [m] { m->XYView->SetupXYView(); };
  d.frmSetup = new TfrmSetup(ctx, std::move(hooks), m);
  // A new sample interval reaches a running acquisition's polling threads at once.
  QObject::connect(d.frmSetup, &QDialog::finished, m, [m, &ctx] {
    m->acquisition()->engine().setSampleIntervalMs(ctx.options.SampleIntervalMs);
  });
  d.AboutBox = new TAboutBox(m);
  d.frmEditXYChannel = new TfrmEditXYChannel(ctx, TfrmEditXYChannel::Hooks{[m] { m->XYView->SetupXYView(); }}, m);
  d.frmEditChannelAll = new TfrmEditChannelAll(ctx, m->board(), m);
  m->setDialogs(d);
  return main;
}

void SetApplicationTitle(const ProfileStore &settings) {
  QGuiApplication::setApplicationDisplayName(
      settings.readString(Sections::System, QStringLiteral("AppName"), QStringLiteral("ZERVO Data Acquisition")));
}

int RunProgram(int argc, char **argv) {
  // 1.
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zervo-daq"));
  QApplication::setApplicationVersion(QStringLiteral("1.0.0"));

  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  // --self-check: the whole start, then a report of what was found instead of the message loop.
  const bool selfCheck = args.removeAll(QStringLiteral("--self-check")) > 0;

  // 2./3. The splash stays for at least one timer period while events keep flowing. A data file
  // named on the command line is read into the page cache meanwhile, so that opening it after
  // the main window shows mostly finds it in memory.
  std::unique_ptr<DataFilePrefetch> prefetch;
  if (!args.isEmpty() && IsDataFileName(args.first()))
    prefetch = std::make_unique<DataFilePrefetch>(args.first());
  auto splash = std::make_unique<TfrmWelcome>();
  splash->show();
  splash->repaint();
  splash->waitForTimer();

  // 4. The title; help goes through the main window's own handler. The settings object is the
  // one the main window then uses.
  AppContext ctx(ProgramPaths::resolve(QCoreApplication::applicationDirPath()));
  ctx.settings = std::make_unique<ProfileStore>(ctx.paths.settingsFile);
  SetApplicationTitle(*ctx.settings);

  // 5. Every window once, in this order, alive until the process ends.
  std::unique_ptr<TfrmMain> mainWindow = CreateWindows(ctx, args);
  TfrmMain &main = *mainWindow;

  // 6.
  HintPause hints(50000);
  app.installEventFilter(&hints);

  // 7.
  splash.reset();
  prefetch.reset();

  // 8.
  // Without a window manager (a bare X server) "maximised" means nothing, so size it as well.
  if (const QScreen *screen = QGuiApplication::primaryScreen())
    main.setGeometry(screen->availableGeometry());
  main.showMaximized();
  if (selfCheck) {
    QTimer::singleShot(0, &main, [&ctx] {
      const SelfCheckResult r = CheckStartedProgram(ctx.paths);
      fputs(r.report.toUtf8().constData(), stdout);
      fflush(stdout);
      QCoreApplication::exit(r.ok ? 0 : 1);
    });
  }
  return QApplication::exec();
}
