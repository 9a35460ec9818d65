#include "dialogs/TfrmSetup.h"

#include "app/AppContext.h"
#include "dialogs/DialogFrame.h"
#include "app/Conversions.h"
#include "app/MessageBoxes.h"
#include "app/SettingsCommit.h"
#include "comm/SerialLink.h"
#include "dialogs/PublishPage.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QSpinBox *spin(QWidget *parent, const char *name, int lo, int hi) {
  auto *s = new QSpinBox(parent);
  s->setObjectName(QString::fromLatin1(name));
  s->setRange(lo, hi);
  return s;
}

QComboBox *list(QWidget *parent, const char *name) {
  auto *c = new QComboBox(parent);
  c->setObjectName(QString::fromLatin1(name));
  return c;
}

QColor fromWin(int c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
int toWin(const QColor &c) { return c.red() | (c.green() << 8) | (c.blue() << 16); }

} // namespace

TfrmSetup::TfrmSetup(AppContext &ctx, Hooks hooks, QWidget *parent)
    : QDialog(parent), m_ctx(ctx), m_hooks(std::move(hooks)) {
  setObjectName(QStringLiteral("frmSetup"));
  setWindowTitle(QStringLiteral("参数设置"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
  setMinimumSize(511, 229);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  auto *sys = new QWidget;
  auto *display = new QWidget;
  auto *save = new QWidget;
  buildSystemPage(sys);
  buildDisplayPage(display);
  buildSavePage(save);
  PageControl1->addTab(sys, QStringLiteral("系统设置"));
  PageControl1->addTab(display, QStringLiteral("显示设置"));
  PageControl1->addTab(save, QStringLiteral("数据保存"));
  pagePublish = new PublishPage;
  PageControl1->addTab(pagePublish, QStringLiteral("数据发布"));

  const DialogButtons buttons = BuildDialogFrame(this, PageControl1);
  btnOK = buttons.ok;
  btnCancel = buttons.cancel;
  connect(btnOK, &QPushButton::clicked, this, &TfrmSetup::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmSetup::btnCancelClick);

  chooseColor = [this](int current) -> std::optional<int> {
    const QColor c = QColorDialog::getColor(fromWin(current), this);
    if (!c.isValid())
      return std::nullopt;
    return toWin(c);
  };
  chooseFolder = [this](const QString &current) -> std::optional<QString> {
    const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("请选择目录"), current);
    if (dir.isEmpty())
      return std::nullopt;
    return dir;
  };
  FormCreate();
}

void TfrmSetup::buildSystemPage(QWidget *page) {
  auto *grid = new QGridLayout(page);

  auto *gbSearch = new QGroupBox(QStringLiteral("仪表搜索"), page);
  gbSearch->setToolTip(QStringLiteral("仪表搜索时，从0开始搜索到最大仪表号"));
  auto *fs = new QFormLayout(gbSearch);
  speMaxMeterNo = spin(gbSearch, "speMaxMeterNo", 1, 100);
  fs->addRow(QStringLiteral("最大仪表号:"), speMaxMeterNo);

  auto *gbComm = new QGroupBox(QStringLiteral("通讯"), page);
  auto *fc = new QFormLayout(gbComm);
  cbxBaud = list(gbComm, "cbxBaud");
  fc->addRow(QStringLiteral("波特率:"), cbxBaud);
  fc->addRow(new QLabel(QStringLiteral("每块仪表波特率设置一致"), gbComm));

  auto *gbMode = new QGroupBox(QStringLiteral("采样方式"), page);
  auto *gm = new QGridLayout(gbMode);
  rgSampleMode = new QGroupBox(QStringLiteral("结束方式"), gbMode);
  rgSampleMode->setObjectName(QStringLiteral("rgSampleMode"));
  rgSampleMode->setToolTip(QStringLiteral("手动：按停止键才结束采样。\n定时：定时时间到，采样自动停止。"));
  auto *rl = new QVBoxLayout(rgSampleMode);
  rbManual = new QRadioButton(rgSampleMode);
  rbTimed = new QRadioButton(rgSampleMode);
  rl->addWidget(rbManual);
  rl->addWidget(rbTimed);
  connect(rbManual, &QRadioButton::clicked, this, &TfrmSetup::rgSampleModeClick);
  connect(rbTimed, &QRadioButton::clicked, this, &TfrmSetup::rgSampleModeClick);
  speKeepTime = spin(gbMode, "speKeepTime", kKeepTimeMin, kKeepTimeMax);
  cbxKeepTimeUnit = list(gbMode, "cbxKeepTimeUnit");
  speSampleInterval = spin(gbMode, "speSampleInterval", kSampleIntervalMin, kSampleIntervalMax);
  cbxSampleIntervalUnit = list(gbMode, "cbxSampleIntervalUnit");
  auto *lblInterval = new QLabel(QStringLiteral("间隔时间:"), gbMode);
  const QString intervalHint =
      QStringLiteral("访问上传时，每个串口从接收一个数据命令，到发送下一个读数命令的间隔时间。");
  for (QWidget *w : {static_cast<QWidget *>(lblInterval), static_cast<QWidget *>(speSampleInterval),
                     static_cast<QWidget *>(cbxSampleIntervalUnit)})
    w->setToolTip(intervalHint);
  gm->addWidget(rgSampleMode, 0, 0, 2, 1);
  gm->addWidget(speKeepTime, 0, 1);
  gm->addWidget(cbxKeepTimeUnit, 0, 2);
  gm->addWidget(lblInterval, 2, 0);
  gm->addWidget(speSampleInterval, 2, 1);
  gm->addWidget(cbxSampleIntervalUnit, 2, 2);

  gbSample = new QGroupBox(QStringLiteral("采样"), page);
  auto *fsm = new QFormLayout(gbSample);
  cbxSampleRate = list(gbSample, "cbxSampleRate");
  speBlockSize = spin(gbSample, "speBlockSize", 10, 5000);
  fsm->addRow(QStringLiteral("采样频率:(Hz)"), cbxSampleRate);
  fsm->addRow(QStringLiteral("数据块大小:(点)"), speBlockSize);
  gbSample->hide(); // carried without effect

  grid->addWidget(gbSearch, 0, 0);
  grid->addWidget(gbComm, 1, 0);
  grid->addWidget(gbMode, 0, 1, 2, 1);
  grid->addWidget(gbSample, 2, 0, 1, 2);
}

QFrame *TfrmSetup::makeSwatch(const QString &name) {
  auto *f = new QFrame(this);
  f->setObjectName(name);
  f->setFrameStyle(QFrame::Box | QFrame::Plain);
  f->setFixedSize(40, 18);
  f->setAutoFillBackground(true);
  f->setCursor(Qt::PointingHandCursor);
  f->installEventFilter(this);
  return f;
}

void TfrmSetup::buildDisplayPage(QWidget *page) {
  auto *grid = new QGridLayout(page);

  auto *gbColors = new QGroupBox(QStringLiteral("颜色"), page);
  auto *fc = new QFormLayout(gbColors);
  shpCurveBkColor = makeSwatch(QStringLiteral("shpCurveBkColor"));
  shpCurveGridColor = makeSwatch(QStringLiteral("shpCurveGridColor"));
  shpCurveTextColor = makeSwatch(QStringLiteral("shpCurveTextColor"));
  shpPanelBkColor = makeSwatch(QStringLiteral("shpPanelBkColor"));
  shpPanelTextColor = makeSwatch(QStringLiteral("shpPanelTextColor"));
  fc->addRow(QStringLiteral("曲线背景:"), shpCurveBkColor);
  fc->addRow(QStringLiteral("曲线栅格:"), shpCurveGridColor);
  fc->addRow(QStringLiteral("曲线文字:"), shpCurveTextColor);
  fc->addRow(QStringLiteral("窗口背景:"), shpPanelBkColor);
  fc->addRow(QStringLiteral("窗口文字:"), shpPanelTextColor);

  auto *gbAxis = new QGroupBox(QStringLiteral("时间轴"), page);
  auto *ga = new QGridLayout(gbAxis);
  speTimeWindow = spin(gbAxis, "speTimeWindow", 1, 9999999);
  speTimeWindow->setToolTip(QStringLiteral("分量显示区横坐标的时间长"));
  cbxTimeWindowUnit = list(gbAxis, "cbxTimeWindowUnit");
  for (int u = 0; u < 4; ++u)
    cbxTimeWindowUnit->addItem(TimeUnitName(u)); // the four items of the form design
  speDiplayBackPer = spin(gbAxis, "speDiplayBackPer", 0, 100);
  speDiplayBackPer->setToolTip(QStringLiteral("范围：0～100%(0:从头开始;100%:滚动显示)"));
  leDateTimeFormat = new QLineEdit(gbAxis);
  leDateTimeFormat->setObjectName(QStringLiteral("leDateTimeFormat"));
  leDateTimeFormat->hide();
  spePrecision = spin(gbAxis, "spePrecision", 0, 4);
  spePrecision->hide();
  ga->addWidget(new QLabel(QStringLiteral("每屏时间:"), gbAxis), 0, 0);
  ga->addWidget(speTimeWindow, 0, 1);
  ga->addWidget(cbxTimeWindowUnit, 0, 2);
  ga->addWidget(new QLabel(QStringLiteral("曲线走完每屏后的返回位置:"), gbAxis), 1, 0);
  ga->addWidget(speDiplayBackPer, 1, 1);
  ga->addWidget(new QLabel(QStringLiteral("%"), gbAxis), 1, 2);

  gbPanelSpace = new QGroupBox(QStringLiteral("信息显示窗对齐排列位置"), page);
  auto *fp = new QFormLayout(gbPanelSpace);
  spePanelTopSpaceDefault = spin(gbPanelSpace, "spePanelTopSpaceDefault", 1, 100);
  spePanelRightSpaceDefault = spin(gbPanelSpace, "spePanelRightSpaceDefault", 1, 100);
  fp->addRow(QStringLiteral("距离顶部:"), spePanelTopSpaceDefault);
  fp->addRow(QStringLiteral("距离右边:"), spePanelRightSpaceDefault);
  gbPanelSpace->hide();

  auto *gbOptions = new QGroupBox(QStringLiteral("可选项"), page);
  auto *go = new QVBoxLayout(gbOptions);
  cbTraceVisible = new QCheckBox(QStringLiteral("曲线轨迹显示"), gbOptions);
  cbTraceVisible->setObjectName(QStringLiteral("cbTraceVisible"));
  cbMarkersVisible = new QCheckBox(QStringLiteral("曲线标记显示"), gbOptions);
  cbMarkersVisible->setObjectName(QStringLiteral("cbMarkersVisible"));
  cbXYChannelShow = new QCheckBox(QStringLiteral("X/Y曲线显示"), gbOptions);
  cbXYChannelShow->setObjectName(QStringLiteral("cbXYChannelShow"));
  cbPltRepaintEnabled = new QCheckBox(QStringLiteral("曲线显示缓冲"), gbOptions);
  cbPltRepaintEnabled->setObjectName(QStringLiteral("cbPltRepaintEnabled"));
  for (QCheckBox *c : {cbTraceVisible, cbMarkersVisible, cbXYChannelShow, cbPltRepaintEnabled})
    go->addWidget(c);

  grid->addWidget(gbColors, 0, 0, 2, 1);
  grid->addWidget(gbAxis, 0, 1);
  grid->addWidget(gbOptions, 1, 1);
  grid->addWidget(gbPanelSpace, 2, 0, 1, 2);
}

void TfrmSetup::buildSavePage(QWidget *page) {
  auto *grid = new QGridLayout(page);
  rgSaveMode = new QGroupBox(QStringLiteral("保存方式"), page);
  rgSaveMode->setObjectName(QStringLiteral("rgSaveMode"));
  rgSaveMode->setToolTip(QStringLiteral(
      "每次访问： 结束采样后，如果没有按保存键保存，下次开始采样或关闭软件时，会自动提示数据保存。\n"
      "自动保存： 每次采样，系统会自动将数据保存在下面默认路径里，文件名参考右边的文件名命名规则。"));
  auto *rl = new QVBoxLayout(rgSaveMode);
  rbAsk = new QRadioButton(QStringLiteral("每次询问"), rgSaveMode);
  rbAutoSave = new QRadioButton(QStringLiteral("自动保存"), rgSaveMode);
  rl->addWidget(rbAsk);
  rl->addWidget(rbAutoSave);

  auto *gbName = new QGroupBox(QStringLiteral("保存数据文件名"), page);
  auto *nl = new QVBoxLayout(gbName);
  nl->addWidget(new QLabel(QStringLiteral("文件名为下面内容加上开始采集时间"), gbName));
  edtFileNameHead = new QLineEdit(gbName);
  edtFileNameHead->setObjectName(QStringLiteral("edtFileNameHead"));
  nl->addWidget(edtFileNameHead);

  auto *gbPath = new QGroupBox(QStringLiteral("默认数据保存路径"), page);
  auto *pl = new QGridLayout(gbPath);
  pl->addWidget(new QLabel(QStringLiteral("在自动保存存储方式时,默认把采集的数据文件存储到以下路径中:"), gbPath),
                0, 0, 1, 2);
  edtSavePath = new QLineEdit(gbPath);
  edtSavePath->setObjectName(QStringLiteral("edtSavePath"));
  BtnPathClick = new QPushButton(QStringLiteral("更改目录"), gbPath);
  BtnPathClick->setObjectName(QStringLiteral("BtnPathClick"));
  connect(BtnPathClick, &QPushButton::clicked, this, &TfrmSetup::BtnPathClickClick);
  pl->addWidget(edtSavePath, 1, 0);
  pl->addWidget(BtnPathClick, 1, 1);

  grid->addWidget(rgSaveMode, 0, 0);
  grid->addWidget(gbName, 0, 1);
  grid->addWidget(gbPath, 1, 0, 1, 2);
}

void TfrmSetup::FormCreate() {
  for (const char *rate : {"1K", "5K", "10K", "25K", "50K", "100K"})
    cbxSampleRate->addItem(QString::fromLatin1(rate));
  rbManual->setText(QStringLiteral("手动"));
  rbTimed->setText(QStringLiteral("定时"));
  for (int u = 0; u < 4; ++u) {
    cbxKeepTimeUnit->addItem(TimeUnitName(u));
    cbxSampleIntervalUnit->addItem(TimeUnitName(u));
  }
  cbxBaud->addItems(BaudRateTexts());

  const Options &o = m_ctx.options;
  m_hooks.writePanel(2, EndModePanelText(o));
  m_hooks.writePanel(3, SampleIntervalPanelText(o));
  m_hooks.writePanel(4, QStringLiteral("波特率：") + cbxBaud->currentText());
  PageControl1->setCurrentIndex(1);
}

void TfrmSetup::showEvent(QShowEvent *event) {
  FormShow();
  QDialog::showEvent(event);
  if (const QScreen *s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
}

namespace {
void selectCode(QComboBox *c, int code) { c->setCurrentIndex(code >= 0 && code < c->count() ? code : -1); }
} // namespace

void TfrmSetup::load(QSpinBox *spin, int stored) {
  spin->setValue(stored);
  m_shown.insert(spin, spin->value());
}

void TfrmSetup::load(QComboBox *list, int stored) {
  selectCode(list, stored);
  m_shown.insert(list, list->currentIndex());
}

int TfrmSetup::edited(const QSpinBox *spin, int stored) const {
  return spin->value() == m_shown.value(spin, stored) ? stored : spin->value();
}

int TfrmSetup::edited(const QComboBox *list, int stored) const {
  const int index = list->currentIndex();
  return index < 0 || index == m_shown.value(list, -1) ? stored : index;
}

void TfrmSetup::FormShow() {
  const Options &o = m_ctx.options;
  pagePublish->load(MqttSettings::load(*m_ctx.settings));
  load(speMaxMeterNo, o.SysMaxMeterNo);
  load(cbxBaud, o.Baud);
  rbManual->setChecked(o.SampleMode != static_cast<int>(SampleModeCode::Timed));
  rbTimed->setChecked(o.SampleMode == static_cast<int>(SampleModeCode::Timed));
  load(speKeepTime, o.KeepTime);
  load(cbxKeepTimeUnit, o.KeepTimeUnit);
  load(speSampleInterval, o.SampleInterval);
  load(cbxSampleIntervalUnit, o.SampleIntervalUnit);
  load(cbxSampleRate, o.SampleRate);
  load(speBlockSize, o.BlockSize);

  setSwatchColor(shpCurveBkColor, o.CurveBkColor);
  setSwatchColor(shpCurveGridColor, o.CurveGridColor);
  setSwatchColor(shpCurveTextColor, o.CurveTextColor);
  setSwatchColor(shpPanelBkColor, o.PanelBkColor);
  setSwatchColor(shpPanelTextColor, o.PanelTextColor);
  load(speTimeWindow, o.TimeWindow);
  load(cbxTimeWindowUnit, o.TimeWindowUnit);
  load(speDiplayBackPer, o.DiplayBackPer);
  leDateTimeFormat->setText(o.DateTimeFormat);
  load(spePrecision, o.Precision);
  load(spePanelTopSpaceDefault, o.PanelTopSpaceDefault);
  load(spePanelRightSpaceDefault, o.PanelRightSpaceDefault);
  cbTraceVisible->setChecked(o.TraceVisible);
  cbMarkersVisible->setChecked(o.MarkersVisible);
  cbXYChannelShow->setChecked(o.XYChannelShow);
  cbPltRepaintEnabled->setChecked(o.PltRepaintEnabled);

  rbAsk->setChecked(o.SaveMode != static_cast<int>(SaveModeCode::Automatic));
  rbAutoSave->setChecked(o.SaveMode == static_cast<int>(SaveModeCode::Automatic));
  edtFileNameHead->setText(o.FileNameHead);
  edtSavePath->setText(o.SavePath);

  rgSampleModeClick();
  m_previousTimeWindowUnit = o.TimeWindowUnit;
}

void TfrmSetup::rgSampleModeClick() {
  const bool timed = rbTimed->isChecked();
  speKeepTime->setEnabled(timed);
  cbxKeepTimeUnit->setEnabled(timed);
}

int TfrmSetup::swatchColor(const QFrame *swatch) const {
  return swatch->property("winColor").toInt();
}

void TfrmSetup::setSwatchColor(QFrame *swatch, int winColor) {
  swatch->setProperty("winColor", winColor);
  QPalette p = swatch->palette();
  p.setColor(QPalette::Window, fromWin(winColor));
  swatch->setPalette(p);
}

bool TfrmSetup::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::MouseButtonPress) {
    auto *f = qobject_cast<QFrame *>(watched);
    if (f && f->objectName().startsWith(QLatin1String("shp"))) {
      if (const std::optional<int> c = chooseColor(swatchColor(f)))
        setSwatchColor(f, *c);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmSetup::BtnPathClickClick() {
  if (const std::optional<QString> dir = chooseFolder(edtSavePath->text()))
    edtSavePath->setText(*dir);
}

void TfrmSetup::btnCancelClick() { reject(); }

void TfrmSetup::btnOKClick() {
  Options &o = m_ctx.options;
  ProfileStore &s = *m_ctx.settings;
  const QString &S = Sections::System;
  // Every write of this OK: a failure is told once, and the values stay in effect regardless.
  SettingsCommit commit(s);
  auto storeInt = [&](const char *key, int &mirror, int value) {
    mirror = value;
    s.writeInteger(S, QString::fromLatin1(key), value);
  };
  auto storeBool = [&](const char *key, bool &mirror, bool value) {
    mirror = value;
    s.writeBool(S, QString::fromLatin1(key), value);
  };

  // 1.-3.
  storeInt("SYS_MAX_METER_NO", o.SysMaxMeterNo, edited(speMaxMeterNo, o.SysMaxMeterNo));
  o.DateTimeFormat = leDateTimeFormat->text();
  o.Precision = edited(spePrecision, o.Precision);
  o.ValueFormat = ValueFormat(o.Precision, o.ValueFormat);
  s.writeInteger(S, QStringLiteral("Precision"), o.Precision);
  s.writeString(S, QStringLiteral("DateTimeFormat"), o.DateTimeFormat);
  storeInt("SampleRate", o.SampleRate, edited(cbxSampleRate, o.SampleRate));
  storeInt("BlockSize", o.BlockSize, edited(speBlockSize, o.BlockSize));

  // 4./5. Times: mirrors and derived milliseconds first, then the keys.
  o.SampleMode = rbTimed->isChecked() ? 1 : 0;
  o.KeepTime = edited(speKeepTime, o.KeepTime);
  o.KeepTimeUnit = edited(cbxKeepTimeUnit, o.KeepTimeUnit);
  o.SampleInterval = edited(speSampleInterval, o.SampleInterval);
  o.SampleIntervalUnit = edited(cbxSampleIntervalUnit, o.SampleIntervalUnit);
  o.TimeWindow = edited(speTimeWindow, o.TimeWindow);
  o.TimeWindowUnit = edited(cbxTimeWindowUnit, o.TimeWindowUnit);
  o.recomputeDerived();
  s.writeEntries({{S, QStringLiteral("TimeWindow"), QString::number(o.TimeWindow)},
                  {S, QStringLiteral("SampleMode"), QString::number(o.SampleMode)},
                  {S, QStringLiteral("KeepTime"), QString::number(o.KeepTime)},
                  {S, QStringLiteral("KeepTimeUnit"), QString::number(o.KeepTimeUnit)},
                  {S, QStringLiteral("SampleInterval"), QString::number(o.SampleInterval)},
                  {S, QStringLiteral("SampleIntervalUnit"), QString::number(o.SampleIntervalUnit)},
                  {S, QStringLiteral("TimeWindowUnit"), QString::number(o.TimeWindowUnit)}});

  // 6.
  storeInt("CurveBkColor", o.CurveBkColor, swatchColor(shpCurveBkColor));
  storeInt("CurveGridColor", o.CurveGridColor, swatchColor(shpCurveGridColor));
  storeInt("CurveTextColor", o.CurveTextColor, swatchColor(shpCurveTextColor));
  storeInt("PanelBkColor", o.PanelBkColor, swatchColor(shpPanelBkColor));
  storeInt("PanelTextColor", o.PanelTextColor, swatchColor(shpPanelTextColor));

  // 7./8.
  o.TraceVisible = cbTraceVisible->isChecked();
  o.MarkersVisible = cbMarkersVisible->isChecked();
  if (!o.TraceVisible && !o.MarkersVisible) {
    Msg::error(this, QStringLiteral("曲线轨迹显示和曲线标记显示不能同时取消！"));
    PageControl1->setCurrentIndex(1);
    cbTraceVisible->setFocus();
    commit.report(this);
    return;
  }

  // 9.
  s.writeBool(S, QStringLiteral("TraceVisible"), o.TraceVisible);
  s.writeBool(S, QStringLiteral("MarkersVisible"), o.MarkersVisible);
  o.Baud = edited(cbxBaud, o.Baud);
  s.writeString(Sections::Port, QStringLiteral("Port"), QString());
  s.writeInteger(Sections::Port, QStringLiteral("Baud"), o.Baud);
  m_hooks.writePanel(4, QStringLiteral("波特率：") + cbxBaud->currentText());
  if (m_hooks.setSearchBaud)
    m_hooks.setSearchBaud(o.Baud);

  // 10./11.
  if (m_hooks.showXYPage)
    m_hooks.showXYPage(cbXYChannelShow->isChecked());
  storeBool("PltRepaintEnabled", o.PltRepaintEnabled, cbPltRepaintEnabled->isChecked());

  // 12.-14.
  if (m_hooks.applyDisplayToViews)
    m_hooks.applyDisplayToViews();
  if (m_hooks.setTimeWindow)
    m_hooks.setTimeWindow(o.TimeWindowCount);
  if (o.TimeWindowUnit != m_previousTimeWindowUnit && m_hooks.rescaleTimeAxis) {
    const double newMs = UnitToMillisecondsF(o.TimeWindowUnit);
    if (newMs > 0)
      m_hooks.rescaleTimeAxis(UnitToMillisecondsF(m_previousTimeWindowUnit) / newMs);
  }
  m_previousTimeWindowUnit = o.TimeWindowUnit;

  // 15.
  m_hooks.writePanel(2, EndModePanelText(o));
  m_hooks.writePanel(3, SampleIntervalPanelText(o));

  // 16./17.
  o.FileNameHead = edtFileNameHead->text();
  o.SaveMode = rbAutoSave->isChecked() ? 1 : 0;
  s.writeInteger(S, QStringLiteral("SaveMode"), o.SaveMode);
  s.writeString(S, QStringLiteral("FileNameHead"), o.FileNameHead);
  if (o.SaveMode == static_cast<int>(SaveModeCode::Automatic) && edtSavePath->text().trimmed().isEmpty()) {
    Msg::error(this, QStringLiteral("在自动保存方式下，保存设置中的默认路径不能为空！"));
    PageControl1->setCurrentIndex(2);
    edtSavePath->setFocus();
    commit.report(this);
    return;
  }

  // 18.-21.
  o.SavePath = edtSavePath->text().trimmed();
  s.writeString(S, QStringLiteral("SavePath"), o.SavePath);
  storeInt("PanelTopSpaceDefault", o.PanelTopSpaceDefault,
           edited(spePanelTopSpaceDefault, o.PanelTopSpaceDefault));
  storeInt("PanelRightSpaceDefault", o.PanelRightSpaceDefault,
           edited(spePanelRightSpaceDefault, o.PanelRightSpaceDefault));
  storeInt("DiplayBackPer", o.DiplayBackPer, edited(speDiplayBackPer, o.DiplayBackPer));
  if (m_hooks.setupXYView)
    m_hooks.setupXYView();
  // Only when edited: a Sys.ini without publishing stays without the section.
  if (const MqttSettings mqtt = pagePublish->edited(); !(mqtt == MqttSettings::load(s)))
    mqtt.save(s);
  commit.report(this);
  accept();
}

QString TfrmSetup::selectBaud(int code) {
  selectCode(cbxBaud, code);
  return cbxBaud->currentText();
}
