// The main window's menus, tool bar, pages and status bar.
#include "app/IconFactory.h"
#include "app/TfrmMain.h"

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

namespace {

QAction *item(QMenu *menu, const QString &name, const QString &caption,
              const QKeySequence &shortcut = {}) {
  auto *a = menu->addAction(caption);
  a->setObjectName(name);
  if (!shortcut.isEmpty()) {
    a->setShortcut(shortcut);
    a->setShortcutContext(Qt::WindowShortcut);
  }
  return a;
}

QKeySequence ctrl(char letter) { return QKeySequence(Qt::CTRL | Qt::Key(letter)); }

const QString kMeasureHint = QStringLiteral("测量：在曲线上放置标记A和B，显示两点间的统计");

} // namespace

void TfrmMain::buildUi() {
  buildMenu();
  buildToolBar();
  buildPages();
  buildStatusBar();
}

void TfrmMain::buildMenu() {
  QMenuBar *bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));

  QMenu *op = bar->addMenu(QStringLiteral("操作(&O)"));
  MenuMeterConfigure = item(op, "MenuMeterConfigure", QStringLiteral("搜索仪表(&E)"), ctrl('E'));
  op->addSeparator();
  MenuStart = item(op, "MenuStart", QStringLiteral("开始采集(&S)"), ctrl('S'));
  MenuStop = item(op, "MenuStop", QStringLiteral("停止采集(&T)"), ctrl('T'));
  MenuStop->setEnabled(false);
  op->addSeparator();
  MenuOpen = item(op, "MenuOpen", QStringLiteral("打开文件(&O)"), ctrl('O'));
  MenuPrint = item(op, "MenuPrint", QStringLiteral("打印图片(&P)"), ctrl('P'));
  op->addSeparator();
  MenuExit = item(op, "MenuExit", QStringLiteral("退出系统(&X)"), ctrl('X'));
  MenuExit->setVisible(false);

  QMenu *data = bar->addMenu(QStringLiteral("数据(&D)"));
  QMenu *overlay = data->addMenu(QStringLiteral("数据叠加到"));
  for (int i = 0; i < 5; ++i)
    MenuLoadChannel[i] = item(overlay, QStringLiteral("MenuLoadChannel%1").arg(i + 1),
                              QStringLiteral("批次&%1").arg(i + 1));
  MenuChannelClear = item(data, "MenuChannelClear", QStringLiteral("清除通道数据(&C)"));
  N4 = item(data, "N4", QStringLiteral("通道比较(&H)"));

  QMenu *view = bar->addMenu(QStringLiteral("查看(&V)"));
  MenuConfigure = item(view, "MenuConfigure", QStringLiteral("仪表信息(&M)"));
  A1 = item(view, "A1", QStringLiteral("对齐信息窗口(&A)"));
  MenuAlarmLog = item(view, "MenuAlarmLog", QStringLiteral("报警记录(&L)"));
  view->addSeparator();
  MenuMeasure = item(view, "MenuMeasure", QStringLiteral("测量(&E)"));
  MenuMeasure->setCheckable(true);
  MenuMeasure->setStatusTip(kMeasureHint);

  QMenu *set = bar->addMenu(QStringLiteral("设置(&T)"));
  MenuSetComm = item(set, "MenuSetComm", QStringLiteral("参数设置(&S)"));
  MenuSetDisplay = item(set, "MenuSetDisplay", QStringLiteral("显示设置(&D)"));
  MenuSetDisplay->setVisible(false);
  MenuSetSave = item(set, "MenuSetSave", QStringLiteral("保存设置(&M)"));
  MenuSetSave->setVisible(false);
  MenuLanguage = set->addMenu(QStringLiteral("语言(&L)"));
  MenuLanguage->setObjectName(QStringLiteral("MenuLanguage"));
  QAction *zh = MenuLanguage->addAction(QStringLiteral("中文(&C)"));
  zh->setCheckable(true);
  zh->setChecked(true);
  MenuLanguage->addAction(QStringLiteral("英文(&E)"));
  MenuLanguage->menuAction()->setVisible(false);
  MenuReg = item(set, "MenuReg", QStringLiteral("文件关联(&F)"));
  MenuReg->setCheckable(true);
  MenuReg->setChecked(true);

  QMenu *help = bar->addMenu(QStringLiteral("帮助(&H)"));
  MenuHelp = item(help, "MenuHelp", QStringLiteral("软件帮助(&H)"));
  help->addSeparator();
  MenuHelpAbout = item(help, "MenuHelpAbout", QStringLiteral("关于我们(&A)"));
  MenuWebAddress = item(help, "MenuWebAddress", QStringLiteral("公司网站(&W)"));
  MenuWebAddress->setVisible(false);
}

void TfrmMain::buildToolBar() {
  ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setIconSize(QSize(24, 24));
  ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);

  // The main commands show their captions; the chart tools are icons with their hints.
  auto button = [this](const char *name, const QString &hint, bool check, bool caption) {
    auto *a = new QAction(ToolIcon(QString::fromLatin1(name)), hint, this);
    a->setObjectName(QString::fromLatin1(name));
    a->setToolTip(hint);
    a->setCheckable(check);
    ToolBar1->addAction(a);
    if (auto *w = ToolBar1->widgetForAction(a)) {
      w->setObjectName(QString::fromLatin1(name));
      if (caption)
        static_cast<QToolButton *>(w)->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    }
    return a;
  };
  btnMeterConfigure = button("btnMeterConfigure", QStringLiteral("搜索仪表"), false, true);
  btnConfigure = button("btnConfigure", QStringLiteral("仪表信息"), false, true);
  ToolBar1->addSeparator();
  btnStart = button("btnStart", QStringLiteral("开始采集"), false, true);
  btnStop = button("btnStop", QStringLiteral("停止采集"), false, true);
  btnStop->setEnabled(false);
  ToolBar1->addSeparator();
  btnOpen = button("btnOpen", QStringLiteral("打开文件"), false, true);
  btnSave = button("btnSave", QStringLiteral("保存数据"), false, true);
  btnSave->setEnabled(false); // nothing unsaved at start
  btnPrint = button("btnPrint", QStringLiteral("打印"), false, true);
  btnSetup = button("btnSetup", QStringLiteral("参数设置"), false, true);
  ToolBar1->addSeparator();
  btnCursor = button("btnCursor", QStringLiteral("开关读数标尺"), true, false);
  btnLinkMove = button("btnLinkMove", QStringLiteral("通道联动"), true, false);
  btnResume = button("btnResume", QStringLiteral("恢复原始比例"), false, false);
  btnZoomToFitY = button("btnZoomToFitY", QStringLiteral("自动缩放至适应窗口"), false, false);
  btnZoomInX = button("btnZoomInX", QStringLiteral("X轴放大"), false, false);
  btnZoomOutX = button("btnZoomOutX", QStringLiteral("X轴缩小"), false, false);
  btnZoomInY = button("btnZoomInY", QStringLiteral("Y轴放大"), false, false);
  btnZoomOutY = button("btnZoomOutY", QStringLiteral("Y轴缩小"), false, false);
  btnZoomBox = button("btnZoomBox", QStringLiteral("区域放大"), true, false);
  ToolBar1->addSeparator();
  btnVertical = button("btnVertical", QStringLiteral("垂直排列窗口"), false, false);
  btnHorizontal = button("btnHorizontal", QStringLiteral("水平排列窗口"), false, false);
  ToolBar1->addSeparator();
  btnXYCurve = button("btnXYCurve", QStringLiteral("X/Y曲线"), true, false);
  btnChannelAllDisplay = button("btnChannelAllDisplay", QStringLiteral("通道比较"), false, false);
  ToolBar1->addSeparator();
  btnMeasure = button("btnMeasure", QStringLiteral("测量"), true, false);
  btnMeasure->setToolTip(kMeasureHint);
  btnMeasure->setStatusTip(kMeasureHint);
}

void TfrmMain::buildPages() {
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setTabPosition(QTabWidget::South);
  PageControl1->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { min-width: 100px; }"));
  pnlRight = new QWidget;
  pnlRight->setObjectName(QStringLiteral("pnlRight"));
  pnlLeft = new QWidget;
  pnlLeft->setObjectName(QStringLiteral("pnlLeft"));
  pnlCenter = new QWidget;
  pnlCenter->setObjectName(QStringLiteral("pnlCenter"));
  PageControl1->addTab(pnlRight, QStringLiteral("通道/时间曲线"));
  PageControl1->addTab(pnlLeft, QStringLiteral("X/Y曲线"));
  PageControl1->addTab(pnlCenter, QStringLiteral("通道比较"));
  PageControl1->setTabVisible(2, false);
  setCentralWidget(PageControl1);
}

void TfrmMain::buildStatusBar() {
  QStatusBar *sb = statusBar();
  sb->setObjectName(QStringLiteral("StatusBar1"));
  constexpr int kWidths[7] = {1, 220, 100, 120, 100, 130, 50};
  for (int i = 0; i < 7; ++i) {
    auto *l = new QLabel(sb);
    l->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    l->setMinimumWidth(kWidths[i]);
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if (i >= 2 && i <= 5)
      l->setAlignment(Qt::AlignCenter);
    else if (i == 6)
      l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    else
      l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Panel 1 takes the spare width, as the progress texts are the longest.
    sb->addWidget(l, i == 1 ? 1 : 0);
    m_panels[static_cast<size_t>(i)] = l;
  }
  // MQTT publishing, shown only while a publisher exists.
  lblPublishing = new QLabel(sb);
  lblPublishing->setObjectName(QStringLiteral("lblPublishing"));
  lblPublishing->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  lblPublishing->hide();
  sb->addPermanentWidget(lblPublishing);
}
