#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "common/ModalResponder.h"
#include "app/TAboutBox.h"
#include "comm/TfrmConfigureShowUnit.h"
#include "dialogs/TfrmEditChannel.h"
#include "dialogs/TfrmEditChannelAll.h"
#include "dialogs/TfrmEditXYChannel.h"
#include "dialogs/TfrmSetup.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QMenuBar>
#include <QDialog>
#include <QFile>
#include <QProgressBar>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>
#include <qcustomplot.h>

namespace {
ProgramPaths pathsIn(const QTemporaryDir &dir) { return ProgramPaths::resolve(dir.path()); }

QByteArray readFile(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}
} // namespace

class TestMainWindow : public QObject {
  Q_OBJECT
  QTemporaryDir m_home;

private slots:
  void initTestCase() {
    // The association goes into the desktop folders of a throw-away home.
    qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8());
  }

  void firstStartRegistersTheFileTypeAndTheMenuToggles() {
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    auto main = CreateWindows(ctx, {});
    const QString desktop = m_home.filePath("data/applications/zervo-daq.desktop");
    const QString mime = m_home.filePath("data/mime/packages/zervo-daq.xml");
    QVERIFY(QFile::exists(desktop));
    QVERIFY(QFile::exists(mime));
    QVERIFY(readFile(desktop).contains("MimeType=application/x-zvdat;"));
    QVERIFY(readFile(mime).contains("<glob pattern=\"*.zvdat\"/>"));
    QVERIFY(main->MenuReg->isChecked());

    main->MenuReg->trigger(); // ticked: removes
    QVERIFY(!QFile::exists(desktop));
    QVERIFY(!QFile::exists(mime));
    QVERIFY(!main->MenuReg->isChecked());
    QCOMPARE(ctx.settings->readString("System Options", "Reg", ""), QString("0"));

    main->MenuReg->trigger(); // unticked: installs again
    QVERIFY(QFile::exists(desktop));
    QVERIFY(main->MenuReg->isChecked());
    QCOMPARE(ctx.settings->readString("System Options", "Reg", ""), QString("1"));
  }

  void laterStartLeavesTheDesktopAlone() {
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    writeFile(ctx.paths.settingsFile, "[System Options]\r\nFirstRun=0\r\nReg=1\r\n");
    QFile::remove(m_home.filePath("data/applications/zervo-daq.desktop"));
    auto main = CreateWindows(ctx, {});
    QVERIFY(!QFile::exists(m_home.filePath("data/applications/zervo-daq.desktop")));
  }

  void firstStartWritesOnlyFirstRunState() {
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    auto main = CreateWindows(ctx, {});
    const QByteArray ini = readFile(ctx.paths.settingsFile);
    QCOMPARE(ini, QByteArray("[System Options]\r\nReg=1\r\nFirstRun=0\r\nXYChannelShow=1\r\n"));
    QVERIFY(main->MenuReg->isChecked());
    // Every other setting has its default.
    const Options &o = ctx.options;
    QCOMPARE(o.TimeWindow, 24);
    QCOMPARE(o.TimeWindowUnit, 3);
    QCOMPARE(o.KeepTimeMs, qint64(10000));
    QCOMPARE(o.SampleIntervalMs, qint64(1000));
    QCOMPARE(o.Baud, 7);
    QCOMPARE(o.PanelBkColor, 15780518);
    QCOMPARE(o.SavePath, dir.path() + "/TestData");
    QCOMPARE(o.OpenPath, dir.path() + "/TestData");
    QCOMPARE(o.MaxADValue, quint16(4095));
    QCOMPARE(ctx.meters.MeterAmount, 0);
    QCOMPARE(main->AppName(), QString("ZERVO Data Acquisition"));
  }

  void laterStartFollowsReg_data() {
    QTest::addColumn<QByteArray>("reg");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("removed") << QByteArray("0") << false;
    QTest::newRow("installed") << QByteArray("1") << true;
  }
  void laterStartFollowsReg() {
    QFETCH(QByteArray, reg);
    QFETCH(bool, ticked);
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    const QByteArray before = "[System Options]\r\nFirstRun=0\r\nReg=" + reg +
                              "\r\nXYChannelShow=1\r\nMaxADValue=70000\r\n";
    writeFile(ctx.paths.settingsFile, before);
    auto main = CreateWindows(ctx, {});
    QCOMPARE(main->MenuReg->isChecked(), ticked);
    QCOMPARE(readFile(ctx.paths.settingsFile), before); // nothing rewritten
    QCOMPARE(ctx.options.MaxADValue, quint16(70000 & 0xFFFF));
  }

  void startupArgument_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("remembered");
    QTest::newRow("none") << QStringList{} << QString();
    QTest::newRow("lower case") << QStringList{"/d/run.zvdat"} << "/d/run.zvdat";
    QTest::newRow("upper case") << QStringList{"/d/RUN.ZVDAT"} << "/d/RUN.ZVDAT";
    QTest::newRow("other extension") << QStringList{"/d/run.txt"} << QString();
    QTest::newRow("only the first counts") << QStringList{"a.txt", "b.zvdat"} << QString();
  }
  void startupArgument() {
    QFETCH(QStringList, args);
    QFETCH(QString, remembered);
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    auto main = CreateWindows(ctx, args);
    QCOMPARE(ctx.startupDataFile, remembered);
  }

  void statusPanels_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("panels"); // panels 2, 3, 4, 6
    QTest::newRow("defaults") << QByteArray()
                              << QStringList{"结束方式：手动", "采样间隔：1秒", "波特率：9600", "Corvane  "};
    QTest::newRow("timed, 500 ms, 115200, own company")
        << QByteArray("[System Options]\r\nSampleMode=1\r\nKeepTime=10\r\nKeepTimeUnit=1\r\n"
                      "SampleInterval=500\r\nSampleIntervalUnit=0\r\nCompany Name=ACME\r\n"
                      "[Port Options]\r\nBaud=13\r\n")
        << QStringList{"定时：10秒", "采样间隔：500毫秒", "波特率：115200", "ACME  "};
  }
  void statusPanels() {
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, panels);
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    if (!ini.isEmpty())
      writeFile(ctx.paths.settingsFile, ini);
    auto main = CreateWindows(ctx, {});
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    QCOMPARE(main->windowTitle(), QString("仪表数据采集软件"));
    QCOMPARE(main->panelText(2), panels[0]);
    QCOMPARE(main->panelText(3), panels[1]);
    QCOMPARE(main->panelText(4), panels[2]);
    QCOMPARE(main->panelText(6), panels[3]);
  }

  void menuItems_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("search") << "MenuMeterConfigure" << "搜索仪表(&E)" << "Ctrl+E" << true << true;
    QTest::newRow("start") << "MenuStart" << "开始采集(&S)" << "Ctrl+S" << true << true;
    QTest::newRow("stop") << "MenuStop" << "停止采集(&T)" << "Ctrl+T" << true << false;
    QTest::newRow("open") << "MenuOpen" << "打开文件(&O)" << "Ctrl+O" << true << true;
    QTest::newRow("print") << "MenuPrint" << "打印图片(&P)" << "Ctrl+P" << true << true;
    QTest::newRow("exit") << "MenuExit" << "退出系统(&X)" << "Ctrl+X" << false << true;
    QTest::newRow("batch 5") << "MenuLoadChannel5" << "批次&5" << "" << true << true;
    QTest::newRow("clear") << "MenuChannelClear" << "清除通道数据(&C)" << "" << true << true;
    QTest::newRow("compare") << "N4" << "通道比较(&H)" << "" << true << true;
    QTest::newRow("meters") << "MenuConfigure" << "仪表信息(&M)" << "" << true << true;
    QTest::newRow("align") << "A1" << "对齐信息窗口(&A)" << "" << true << true;
    QTest::newRow("settings") << "MenuSetComm" << "参数设置(&S)" << "" << true << true;
    QTest::newRow("display") << "MenuSetDisplay" << "显示设置(&D)" << "" << false << true;
    QTest::newRow("saving") << "MenuSetSave" << "保存设置(&M)" << "" << false << true;
    QTest::newRow("association") << "MenuReg" << "文件关联(&F)" << "" << true << true;
    QTest::newRow("help") << "MenuHelp" << "软件帮助(&H)" << "" << true << true;
    QTest::newRow("about") << "MenuHelpAbout" << "关于我们(&A)" << "" << true << true;
    QTest::newRow("web") << "MenuWebAddress" << "公司网站(&W)" << "" << false << true;
  }
  void menuItems() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, shortcut);
    QFETCH(bool, visible);
    QFETCH(bool, enabled);
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    auto main = CreateWindows(ctx, {});
    auto *a = main->findChild<QAction *>(name);
    QVERIFY2(a, qPrintable(name));
    QCOMPARE(a->text(), caption);
    QCOMPARE(a->shortcut().toString(), shortcut);
    QCOMPARE(a->isVisible(), visible);
    QCOMPARE(a->isEnabled(), enabled && visible); // a hidden action is not enabled either
  }

  void toolButtons_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<bool>("check");
    QTest::addColumn<bool>("enabled");
    const struct {
      const char *name, *hint;
      bool check, enabled;
    } rows[] = {{"btnMeterConfigure", "搜索仪表", false, true}, {"btnConfigure", "仪表信息", false, true},
                {"btnStart", "开始采集", false, true},          {"btnStop", "停止采集", false, false},
                {"btnOpen", "打开文件", false, true},           {"btnSave", "保存数据", false, false},
                {"btnPrint", "打印", false, true},              {"btnSetup", "参数设置", false, true},
                {"btnCursor", "开关读数标尺", true, true},      {"btnLinkMove", "通道联动", true, true},
                {"btnResume", "恢复原始比例", false, true},     {"btnZoomToFitY", "自动缩放至适应窗口", false, true},
                {"btnZoomInX", "X轴放大", false, true},         {"btnZoomOutX", "X轴缩小", false, true},
                {"btnZoomInY", "Y轴放大", false, true},         {"btnZoomOutY", "Y轴缩小", false, true},
                {"btnZoomBox", "区域放大", true, true},         {"btnVertical", "垂直排列窗口", false, true},
                {"btnHorizontal", "水平排列窗口", false, true}, {"btnXYCurve", "X/Y曲线", true, true},
                {"btnChannelAllDisplay", "通道比较", false, true},
                {"btnMeasure", "测量：在曲线上放置标记A和B，显示两点间的统计", true, true}};
    for (const auto &r : rows)
      QTest::newRow(r.name) << QString(r.name) << QString::fromUtf8(r.hint) << r.check << r.enabled;
  }
  void toolButtons() {
    QFETCH(QString, name);
    QFETCH(QString, hint);
    QFETCH(bool, check);
    QFETCH(bool, enabled);
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    auto main = CreateWindows(ctx, {});
    auto *a = main->findChild<QAction *>(name);
    QVERIFY(a);
    QVERIFY(main->ToolBar1->actions().contains(a));
    QCOMPARE(a->toolTip(), hint);
    QCOMPARE(a->isCheckable(), check);
    QCOMPARE(a->isEnabled(), enabled);
    QVERIFY(!a->icon().isNull());
  }

  void pagesAndButtonsFollowSettings() {
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    writeFile(ctx.paths.settingsFile,
              "[System Options]\r\nFirstRun=0\r\nXYChannelShow=0\r\nLinkMove=1\r\n");
    auto main = CreateWindows(ctx, {});
    QCOMPARE(main->PageControl1->count(), 3);
    QCOMPARE(main->PageControl1->tabText(0), QString("通道/时间曲线"));
    QCOMPARE(main->PageControl1->tabPosition(), QTabWidget::South);
    QVERIFY(!main->PageControl1->isTabVisible(1)); // X/Y page follows XYChannelShow
    QVERIFY(!main->PageControl1->isTabVisible(2)); // compare page hidden at start
    QVERIFY(!main->btnXYCurve->isChecked());
    QVERIFY(main->btnLinkMove->isChecked());
    QVERIFY(readFile(ctx.paths.settingsFile).contains("XYChannelShow=0"));
    // Toggling the X/Y button shows the page and persists at once.
    main->btnXYCurve->trigger();
    QVERIFY(main->PageControl1->isTabVisible(1));
    QVERIFY(readFile(ctx.paths.settingsFile).contains("XYChannelShow=1"));
  }

  void closeFlow_data() {
    QTest::addColumn<bool>("acquiring");
    QTest::addColumn<bool>("unsaved");
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<QStringList>("questions");
    QTest::addColumn<bool>("closed");
    using B = QMessageBox;
    const QString stopFirst = "退出前请停止测量！";
    const QString save = "上次采集数据未保存,现在保存吗？";
    const QString exit = "确定要退出系统？";
    QTest::newRow("ok closes") << false << false << QList<int>{B::Ok} << QStringList{exit} << true;
    QTest::newRow("cancel stays") << false << false << QList<int>{B::Cancel} << QStringList{exit}
                                  << false;
    QTest::newRow("acquiring refuses whatever")
        << true << true << QList<int>{B::Ok, B::Yes, B::Ok} << QStringList{stopFirst} << false;
    QTest::newRow("unsaved, no, ok") << false << true << QList<int>{B::No, B::Ok}
                                     << QStringList{save, exit} << true;
    QTest::newRow("unsaved, no, cancel") << false << true << QList<int>{B::No, B::Cancel}
                                         << QStringList{save, exit} << false;
  }
  void closeFlow() {
    QFETCH(bool, acquiring);
    QFETCH(bool, unsaved);
    QFETCH(QList<int>, answers);
    QFETCH(QStringList, questions);
    QFETCH(bool, closed);
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    auto main = CreateWindows(ctx, {});
    QObject readThread;
    if (acquiring)
      main->ReadThread = &readThread;
    main->setSaveAvailable(unsaved);
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    std::deque<QMessageBox::StandardButton> q;
    for (int a : answers)
      q.push_back(static_cast<QMessageBox::StandardButton>(a));
    ModalResponder responder(q);
    const bool result = main->close();
    QStringList asked;
    for (const auto &s : responder.seen) {
      asked << s.text;
      QCOMPARE(s.caption, QString("提示"));
    }
    QCOMPARE(asked, questions);
    QCOMPARE(result, closed);
    QCOMPARE(main->isVisible(), !closed);
    QCOMPARE(main->saveAvailable(), unsaved); // a cancelled exit keeps the recording unsaved
  }

  // Every command's enabled state follows the window's one state.
  void commandsFollowTheWindowState_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("saveAvailable");
    QTest::addColumn<QStringList>("enabled"); // of the commands listed in commandsFollowTheWindowState
    const QStringList always{"btnCursor", "btnLinkMove", "btnZoomBox", "btnXYCurve", "MenuHelp", "MenuReg", "N4", "A1"};
    const QStringList modal{"btnConfigure", "MenuConfigure", "btnPrint", "MenuPrint", "btnSetup", "MenuSetComm",
                            "MenuHelpAbout"};
    const QStringList opening{"btnOpen", "MenuOpen", "MenuLoadChannel1", "MenuLoadChannel2", "MenuLoadChannel3",
                              "MenuLoadChannel4", "MenuLoadChannel5"};
    const QStringList starting{"btnMeterConfigure", "MenuMeterConfigure", "btnStart", "MenuStart"};
    const QStringList measure{"btnMeasure", "MenuMeasure"};
    QTest::newRow("idle") << int(WindowState::Idle) << false
                          << always + modal + opening + starting + measure + QStringList{"MenuChannelClear"};
    QTest::newRow("idle, unsaved recording")
        << int(WindowState::Idle) << true
        << always + modal + opening + starting + measure + QStringList{"MenuChannelClear", "btnSave"};
    QTest::newRow("searching") << int(WindowState::Searching) << true << always + QStringList{"MenuChannelClear"};
    QTest::newRow("recording") << int(WindowState::Recording) << true
                               << always + modal + measure + QStringList{"btnStop", "MenuStop", "MenuChannelClear"};
    QTest::newRow("exporting") << int(WindowState::Exporting) << true << always + measure;
    QTest::newRow("opening") << int(WindowState::Opening) << true << always;
  }
  void commandsFollowTheWindowState() {
    QFETCH(int, state);
    QFETCH(bool, saveAvailable);
    QFETCH(QStringList, enabled);
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    auto main = CreateWindows(ctx, {});
    main->setSaveAvailable(saveAvailable);
    main->setWindowState(WindowState(state));
    const QStringList all{"btnMeterConfigure", "MenuMeterConfigure", "btnConfigure", "MenuConfigure", "btnStart",
                          "MenuStart", "btnStop", "MenuStop", "btnOpen", "MenuOpen", "MenuLoadChannel1",
                          "MenuLoadChannel2", "MenuLoadChannel3", "MenuLoadChannel4", "MenuLoadChannel5", "btnSave",
                          "btnPrint", "MenuPrint", "btnSetup", "MenuSetComm", "MenuHelpAbout", "MenuChannelClear",
                          "btnCursor", "btnLinkMove", "btnZoomBox", "btnXYCurve", "MenuHelp", "MenuReg", "N4", "A1",
                          "btnMeasure", "MenuMeasure"};
    for (const QString &name : all) {
      auto *a = main->findChild<QAction *>(name);
      QVERIFY2(a, qPrintable(name));
      QVERIFY2(a->isEnabled() == enabled.contains(name), qPrintable(name));
    }
  }

  // 测量 shows the markers on every channel chart and the compare chart; the button and the
  // menu item are one state; a click places a marker and Ctrl+C copies the readout.
  void measureButtonShowsMarkersOnEveryChart() {
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    writeFile(ctx.paths.settingsFile,
              "[System Options]\r\nFirstRun=0\r\n[Meter Configure]\r\nMeterAmount=3\r\n");
    auto main = CreateWindows(ctx, {});
    ViewBoard *board = main->board();
    QCOMPARE(board->viewCount(), 3);
    const auto charts = [board] {
      QList<PlotChart *> all{board->compareChart()};
      for (int i = 0; i < board->viewCount(); ++i)
        all << board->view(i)->pltChannel;
      return all;
    };
    for (PlotChart *c : charts())
      QVERIFY(!c->measuring());
    QVERIFY(main->ToolBar1->actions().contains(main->btnMeasure));
    QVERIFY(main->menuBar()->findChild<QAction *>("MenuMeasure"));
    main->btnMeasure->trigger();
    QVERIFY(main->btnMeasure->isChecked());
    QVERIFY(main->MenuMeasure->isChecked());
    for (PlotChart *c : charts())
      QVERIFY(c->measuring());

    PlotChart *chart = board->view(0)->pltChannel;
    chart->setTracking(ChartAxis::X, false);
    QVector<double> xs, ys;
    for (int i = 0; i <= 100; ++i) {
      xs << i;
      ys << i * 0.5;
    }
    chart->addPoints(0, xs, ys, true);
    chart->setAxisRange(ChartAxis::X, 0, 100);
    main->resize(1400, 900);
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    chart->replotNow();
    const QPoint at(int(chart->plot()->xAxis->coordToPixel(25)), chart->plot()->axisRect()->rect().center().y());
    QTest::mouseClick(chart->plot(), Qt::LeftButton, {}, at);
    QVERIFY(chart->marker(MarkerId::A));
    QVERIFY(std::abs(*chart->marker(MarkerId::A) - 25) <= 1);
    QVERIFY(!chart->marker(MarkerId::B));
    chart->plot()->setFocus();
    QApplication::clipboard()->clear();
    QTest::keyClick(chart->plot(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), chart->measureReadout());
    QVERIFY(chart->measureReadout().contains(QStringLiteral("批次1  A ")));

    // Views built later measure too; the menu item switches everything off.
    board->BuildChannelViews(2);
    for (PlotChart *c : charts())
      QVERIFY(c->measuring());
    main->MenuMeasure->trigger();
    QVERIFY(!main->btnMeasure->isChecked());
    for (PlotChart *c : charts())
      QVERIFY(!c->measuring());
  }

  // An export runs in the exporting state: nothing can start meanwhile, and idle returns after.
  void exportRunsInTheExportingState() {
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    writeFile(ctx.paths.settingsFile,
              "[System Options]\r\nFirstRun=0\r\n[Meter Configure]\r\nMeterAmount=1\r\n");
    auto main = CreateWindows(ctx, {});
    main->board()->view(0)->pltChannel->addPoints(0, {0, 1, 2}, {5, 6, 7}, true);
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    int dialogs = 0;
    WindowState during = WindowState::Idle;
    bool startEnabled = true;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, this, [&] {
      auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
      if (!d || qobject_cast<QMessageBox *>(d))
        return;
      ++dialogs;
      during = main->windowState();
      startEnabled = main->btnStart->isEnabled();
      main->btnStart->trigger(); // must not begin a recording under the export
      d->reject();
    });
    watcher.start(5);
    ModalResponder boxes;
    main->board()->exportAllChannels();
    QCOMPARE(dialogs, 1); // the export's file dialog
    QCOMPARE(int(during), int(WindowState::Exporting));
    QVERIFY(!startEnabled);
    QVERIFY(!main->ReadThread);
    QVERIFY(boxes.seen.empty()); // no "没有有效仪表！": Start was never reached
    QCOMPARE(int(main->windowState()), int(WindowState::Idle));
    QVERIFY(main->btnStart->isEnabled());
  }

  void exitMenuAsksTwice_data() {
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<int>("questions");
    QTest::addColumn<bool>("closed");
    QTest::newRow("ok ok") << QList<int>{QMessageBox::Ok, QMessageBox::Ok} << 2 << true;
    QTest::newRow("cancel first") << QList<int>{QMessageBox::Cancel} << 1 << false;
    QTest::newRow("cancel second") << QList<int>{QMessageBox::Ok, QMessageBox::Cancel} << 2 << false;
  }
  void exitMenuAsksTwice() {
    QFETCH(QList<int>, answers);
    QFETCH(int, questions);
    QFETCH(bool, closed);
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    auto main = CreateWindows(ctx, {});
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    std::deque<QMessageBox::StandardButton> q;
    for (int a : answers)
      q.push_back(static_cast<QMessageBox::StandardButton>(a));
    ModalResponder responder(q);
    main->MenuExit->trigger();
    QCOMPARE(int(responder.seen.size()), questions);
    for (const auto &s : responder.seen)
      QCOMPARE(s.text, QString("确定要退出系统？"));
    QCOMPARE(main->isVisible(), !closed);
  }

  void f1AsksForTheFocusedControlsContext_data() {
    QTest::addColumn<int>("context");
    QTest::addColumn<QString>("page");
    QTest::newRow("no own context") << 0 << "SystermIntroduction.htm";
    QTest::newRow("10100") << 10100 << "MainFunction.htm";
    QTest::newRow("10101") << 10101 << "ProjectManager.htm";
    QTest::newRow("10102") << 10102 << "FinanceInput.htm";
    QTest::newRow("other") << 4711 << "SystermIntroduction.htm";
  }
  void f1AsksForTheFocusedControlsContext() {
    QFETCH(int, context);
    QFETCH(QString, page);
    QTemporaryDir dir; // no help pages here: the program says so
    AppContext ctx(pathsIn(dir));
    auto main = CreateWindows(ctx, {});
    auto *edit = new QLineEdit(main->pnlRight);
    if (context)
      edit->setProperty("helpContext", context);
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    main->activateWindow();
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    QSignalSpy spy(main.get(), &TfrmMain::helpRequested);
    ModalResponder responder;
    QTest::keyClick(edit, Qt::Key_F1);
    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(1).toString(), page);
    QTRY_COMPARE(int(responder.seen.size()), 1);
    QCOMPARE(responder.seen[0].text, QString("help.chm 帮助文件不存在或者文件格式损坏！"));
  }

  void dialogsAreCreatedOnceAsChildren() {
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    auto main = CreateWindows(ctx, {});
    const TfrmMain::Dialogs &d = main->dialogs();
    const QList<QObject *> all = {static_cast<QObject *>(d.frmEditChannel),
                                  static_cast<QObject *>(d.frmConfigureShowUnit),
                                  static_cast<QObject *>(d.frmSetup),
                                  static_cast<QObject *>(d.AboutBox),
                                  static_cast<QObject *>(d.frmEditXYChannel),
                                  static_cast<QObject *>(d.frmEditChannelAll)};
    for (QObject *o : all) {
      QVERIFY(o);
      QCOMPARE(o->parent(), main.get());
    }
    // Created in this order, so the main window's children list them in it.
    QList<QObject *> order;
    for (QObject *c : main->children())
      if (all.contains(c))
        order << c;
    QCOMPARE(order, all);
    // The settings dialog's creation filled its lists and chose page 1.
    QCOMPARE(d.frmSetup->cbxBaud->count(), 16);
    QCOMPARE(d.frmSetup->cbxBaud->itemText(7), QString("9600"));
    QCOMPARE(d.frmSetup->PageControl1->currentIndex(), 1);
  }

  void progressWindow() {
    QTemporaryDir dir;
    AppContext ctx(pathsIn(dir));
    auto main = CreateWindows(ctx, {});
    QProgressBar *bar = main->CreateProgressWindow(65535);
    QCOMPARE(bar->maximum(), 65535);
    QCOMPARE(bar->geometry(), QRect(5, 5, 250, 20));
    QCOMPARE(bar->window()->size(), QSize(260, 30));
    QVERIFY(bar->window()->isVisible());
    delete bar->window();
  }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
