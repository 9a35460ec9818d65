#include "dialogs/TfrmEditChannel.h"

#include "acquisition/TChannel.h"
#include "app/AppContext.h"
#include "dialogs/DialogFrame.h"
#include "app/MessageBoxes.h"
#include "app/SettingsCommit.h"
#include "acquisition/AlarmRule.h"
#include "dialogs/ChannelProperties.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"
#include "views/WinColor.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace CP = ChannelProperties;

namespace {

QLineEdit *edit(QWidget *parent, const char *name, bool readOnly = false) {
  auto *e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setReadOnly(readOnly);
  return e;
}

QLabel *caption(QWidget *parent, const QString &text, QWidget *buddy) {
  auto *l = new QLabel(text, parent);
  l->setBuddy(buddy);
  return l;
}

} // namespace

TfrmEditChannel::TfrmEditChannel(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmEditChannel"));
  setWindowTitle(QStringLiteral("属性"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
  setMinimumSize(406, 179);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  buildRunPage();
  buildViewPage();
  PageControl1->addTab(tsRunOption, QStringLiteral("绘图区"));
  PageControl1->addTab(tsViewOption, QStringLiteral("信息显示窗"));

  const DialogButtons buttons = BuildDialogFrame(this, PageControl1);
  btnOK = buttons.ok;
  btnCancel = buttons.cancel;
  btnOK->setEnabled(false); // until there is a channel to edit
  connect(btnOK, &QPushButton::clicked, this, &TfrmEditChannel::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmEditChannel::btnCancelClick);

  chooseColor = [this](int current) -> std::optional<int> {
    const QColor c = QColorDialog::getColor(ColorFromWin(current), this);
    if (!c.isValid())
      return std::nullopt;
    return WinFromColor(c);
  };
  setCurveColor(255);
}

TfrmEditChannel::TfrmEditChannel(AppContext &ctx, Hooks hooks, QWidget *parent) : TfrmEditChannel(parent) {
  attach(ctx, std::move(hooks));
}

void TfrmEditChannel::attach(AppContext &ctx, Hooks hooks) {
  m_ctx = &ctx;
  m_hooks = std::move(hooks);
}

void TfrmEditChannel::buildRunPage() {
  tsRunOption = new QWidget;
  tsRunOption->setObjectName(QStringLiteral("tsRunOption"));
  QWidget *p = tsRunOption;
  auto *g = new QGridLayout(p);

  leMeterAddr = edit(p, "leMeterAddr", true);
  leMeterComNo = edit(p, "leMeterComNo", true);
  leMeterState = edit(p, "leMeterState", true);
  leMainTitle = edit(p, "leMainTitle");
  leTitle = edit(p, "leTitle");
  leMeasureUnit = edit(p, "leMeasureUnit");
  leRangeMin = edit(p, "leRangeMin");
  leRangeMax = edit(p, "leRangeMax");
  leScale = edit(p, "leScale");
  leOffset = edit(p, "leOffset");

  shpCurveColor = new QFrame(p);
  shpCurveColor->setObjectName(QStringLiteral("shpCurveColor"));
  shpCurveColor->setFrameStyle(QFrame::Box | QFrame::Plain);
  shpCurveColor->setFixedSize(40, 18);
  shpCurveColor->setAutoFillBackground(true);
  shpCurveColor->setCursor(Qt::PointingHandCursor);
  shpCurveColor->installEventFilter(this);

  cbxPhysicalChannel = new QComboBox(p);
  cbxPhysicalChannel->setObjectName(QStringLiteral("cbxPhysicalChannel"));
  for (int n = 0; n <= 8; ++n)
    cbxPhysicalChannel->addItem(QString::number(n));
  cbxSignalType = new QComboBox(p);
  cbxSignalType->setObjectName(QStringLiteral("cbxSignalType"));
  cbxSignalType->addItems({QStringLiteral("0~5V"), QStringLiteral("4~20mA")});

  // Left: the meter that feeds the channel and the curve colour; right: the value axis; below:
  // the chart title.
  g->addWidget(caption(p, QStringLiteral("仪表号:"), leMeterAddr), 0, 0);
  g->addWidget(leMeterAddr, 0, 1);
  g->addWidget(caption(p, QStringLiteral("串口号:"), leMeterComNo), 1, 0);
  g->addWidget(leMeterComNo, 1, 1);
  g->addWidget(caption(p, QStringLiteral("方式:"), leMeterState), 2, 0);
  g->addWidget(leMeterState, 2, 1);
  g->addWidget(caption(p, QStringLiteral("曲线颜色:"), shpCurveColor), 3, 0);
  g->addWidget(shpCurveColor, 3, 1);
  g->addWidget(caption(p, QStringLiteral("Y轴标题:"), leTitle), 0, 2);
  g->addWidget(leTitle, 0, 3);
  g->addWidget(caption(p, QStringLiteral("Y轴单位:"), leMeasureUnit), 1, 2);
  g->addWidget(leMeasureUnit, 1, 3);
  g->addWidget(caption(p, QStringLiteral("Y轴最小值:"), leRangeMin), 2, 2);
  g->addWidget(leRangeMin, 2, 3);
  g->addWidget(caption(p, QStringLiteral("Y轴最大值:"), leRangeMax), 3, 2);
  g->addWidget(leRangeMax, 3, 3);
  g->addWidget(caption(p, QStringLiteral("主标题:"), leMainTitle), 4, 0);
  g->addWidget(leMainTitle, 4, 1, 1, 3);

  // Calibration, physical input and signal type are carried through without being offered.
  QLabel *lblScale = caption(p, QStringLiteral("校准比例:"), leScale);
  QLabel *lblOffset = caption(p, QStringLiteral("校准零点:"), leOffset);
  QLabel *lblSignalType = caption(p, QStringLiteral("信号方式:"), cbxSignalType);
  g->addWidget(lblScale, 5, 0);
  g->addWidget(leScale, 5, 1);
  g->addWidget(lblOffset, 5, 2);
  g->addWidget(leOffset, 5, 3);
  g->addWidget(cbxPhysicalChannel, 6, 1);
  g->addWidget(lblSignalType, 6, 2);
  g->addWidget(cbxSignalType, 6, 3);
  for (QWidget *w : {static_cast<QWidget *>(lblScale), static_cast<QWidget *>(leScale),
                     static_cast<QWidget *>(lblOffset), static_cast<QWidget *>(leOffset),
                     static_cast<QWidget *>(cbxPhysicalChannel), static_cast<QWidget *>(lblSignalType),
                     static_cast<QWidget *>(cbxSignalType)})
    w->hide();
  g->setRowStretch(7, 1);
}

void TfrmEditChannel::buildViewPage() {
  tsViewOption = new QWidget;
  tsViewOption->setObjectName(QStringLiteral("tsViewOption"));
  auto *outer = new QVBoxLayout(tsViewOption);

  gbPanelContent = new QGroupBox(QStringLiteral("信息显示窗内容"), tsViewOption);
  auto *g = new QGridLayout(gbPanelContent);
  auto check = [this](const char *name, const QString &text) {
    auto *c = new QCheckBox(text, gbPanelContent);
    c->setObjectName(QString::fromLatin1(name));
    return c;
  };
  ckxShowNowValue = check("ckxShowNowValue", QStringLiteral("当前值(&N)"));
  ckxShowMaxValue = check("ckxShowMaxValue", QStringLiteral("最大值(&X)"));
  ckxShowMinValue = check("ckxShowMinValue", QStringLiteral("最小值(&I)"));
  ckxShowButton = check("ckxShowButton", QStringLiteral("控制按钮(&C)"));
  ckxShowButton->hide(); // the control strip is never shown
  spePrecisionArray = new QSpinBox(gbPanelContent);
  spePrecisionArray->setObjectName(QStringLiteral("spePrecisionArray"));
  spePrecisionArray->setRange(0, 4);
  spePrecisionArray->hide();
  QLabel *lblPrecision = caption(gbPanelContent, QStringLiteral("显示精度:"), spePrecisionArray);
  lblPrecision->hide();

  g->addWidget(ckxShowNowValue, 0, 0);
  g->addWidget(ckxShowMaxValue, 0, 1);
  g->addWidget(ckxShowMinValue, 0, 2);
  g->addWidget(ckxShowButton, 1, 0);
  g->addWidget(lblPrecision, 1, 1);
  g->addWidget(spePrecisionArray, 1, 2);
  outer->addWidget(gbPanelContent);

  gbAlarm = new QGroupBox(QStringLiteral("报警"), tsViewOption);
  gbAlarm->setObjectName(QStringLiteral("gbAlarm"));
  auto *a = new QGridLayout(gbAlarm);
  ckxAlarmEnabled = new QCheckBox(QStringLiteral("启用报警(&E)"), gbAlarm);
  ckxAlarmEnabled->setObjectName(QStringLiteral("ckxAlarmEnabled"));
  leAlarmHigh = edit(gbAlarm, "leAlarmHigh");
  leAlarmLow = edit(gbAlarm, "leAlarmLow");
  leAlarmHysteresis = edit(gbAlarm, "leAlarmHysteresis");
  leAlarmHigh->setToolTip(QStringLiteral("空: 无上限"));
  leAlarmLow->setToolTip(QStringLiteral("空: 无下限"));
  a->addWidget(ckxAlarmEnabled, 0, 0, 1, 2);
  a->addWidget(caption(gbAlarm, QStringLiteral("上限:"), leAlarmHigh), 1, 0);
  a->addWidget(leAlarmHigh, 1, 1);
  a->addWidget(caption(gbAlarm, QStringLiteral("下限:"), leAlarmLow), 1, 2);
  a->addWidget(leAlarmLow, 1, 3);
  a->addWidget(caption(gbAlarm, QStringLiteral("回差:"), leAlarmHysteresis), 1, 4);
  a->addWidget(leAlarmHysteresis, 1, 5);
  outer->addWidget(gbAlarm);
  outer->addStretch();
}

int TfrmEditChannel::showFor(int channel, int page) {
  setTag(channel);
  if (page == static_cast<int>(Page::RunOption) || page == static_cast<int>(Page::ViewOption))
    PageControl1->setCurrentIndex(page);
  return exec();
}

int TfrmEditChannel::curveColor() const { return shpCurveColor->property("winColor").toInt(); }

void TfrmEditChannel::setCurveColor(int winColor) {
  shpCurveColor->setProperty("winColor", winColor);
  QPalette pal = shpCurveColor->palette();
  pal.setColor(QPalette::Window, ColorFromWin(winColor));
  shpCurveColor->setPalette(pal);
}

TChannel *TfrmEditChannel::editedChannel() const {
  return m_hooks.board ? m_hooks.board->channel(m_tag) : nullptr;
}

TfraChannel *TfrmEditChannel::editedView() const {
  return m_hooks.board ? m_hooks.board->view(m_tag) : nullptr;
}

void TfrmEditChannel::showEvent(QShowEvent *event) {
  FormShow();
  QDialog::showEvent(event);
}

void TfrmEditChannel::FormShow() {
  TChannel *c = editedChannel();
  TfraChannel *v = editedView();
  // A tag without a channel (views rebuilt with fewer channels) leaves nothing to edit.
  const bool editable = m_ctx && c && v;
  btnOK->setEnabled(editable);
  if (!editable)
    return;
  const int i = m_tag;

  // 1.
  if (i >= 0 && i < kMeterSlots) {
    const TMeterConfigure &m = m_ctx->meters.Meters[static_cast<size_t>(i)];
    leMeterAddr->setText(CP::MeterAddressText(m.MeterNo));
    leMeterComNo->setText(CP::MeterPortText(m.MeterCom));
    leMeterState->setText(CP::MeterModeText(m.MeterState));
  } else {
    leMeterAddr->clear();
    leMeterComNo->clear();
    leMeterState->clear();
  }

  // 2. Titles, range, unit and colour stay as they are while an acquisition runs.
  tsRunOption->setEnabled(!(m_hooks.acquiring && m_hooks.acquiring()));

  // 3.
  cbxPhysicalChannel->setCurrentIndex(cbxPhysicalChannel->findText(QString::number(c->PhysicalChannel())));
  leTitle->setText(c->Title());
  leMainTitle->setText(c->MainTitle());
  leMeasureUnit->setText(c->MeasureUnit());
  leRangeMin->setText(CP::FloatText(c->RangeMin()));
  leRangeMax->setText(CP::FloatText(c->RangeMax()));
  leScale->setText(CP::FloatText(c->Scale()));
  leOffset->setText(CP::FloatText(c->Offset()));
  setCurveColor(c->CurveColor());
  cbxSignalType->setCurrentIndex(static_cast<int>(c->SignalType()));
  ckxShowNowValue->setChecked(v->ShowNowValue());
  ckxShowMaxValue->setChecked(v->ShowMaxValue());
  ckxShowMinValue->setChecked(v->ShowMinValue());
  ckxShowButton->setChecked(v->ShowButton());
  spePrecisionArray->setValue(m_ctx->formats.precision(i));
  // The read thread takes the limits at a start; changing them mid-recording would not apply.
  gbAlarm->setEnabled(!(m_hooks.acquiring && m_hooks.acquiring()));
  const AlarmLimits l = ReadAlarmLimits(*m_ctx->settings, i);
  ckxAlarmEnabled->setChecked(l.enabled);
  leAlarmHigh->setText(l.high ? CP::FloatText(*l.high) : QString());
  leAlarmLow->setText(l.low ? CP::FloatText(*l.low) : QString());
  leAlarmHysteresis->setText(CP::FloatText(l.hysteresis));
}

bool TfrmEditChannel::eventFilter(QObject *watched, QEvent *event) {
  if (watched == shpCurveColor && event->type() == QEvent::MouseButtonPress) {
    if (shpCurveColor->isEnabled()) {
      if (const std::optional<int> c = chooseColor(curveColor()))
        setCurveColor(*c);
    }
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmEditChannel::btnCancelClick() { reject(); }

void TfrmEditChannel::btnOKClick() {
  TChannel *c = editedChannel();
  TfraChannel *v = editedView();
  if (!m_ctx || !c || !v)
    return;
  const int i = m_tag;

  // 1. Nothing is applied or written unless all four texts are numbers.
  const std::array<QLineEdit *, 4> floats{leRangeMin, leRangeMax, leScale, leOffset};
  std::array<QString, 4> texts;
  for (size_t k = 0; k < floats.size(); ++k)
    texts[k] = floats[k]->text();
  if (const std::optional<std::size_t> bad = CP::AcceptFloats(texts, m_accepted)) {
    Msg::error(parentWidget() ? parentWidget() : this, CP::kBadFloatMessage);
    QLineEdit *e = floats[*bad];
    e->setText(CP::FloatText(m_accepted[*bad]));
    e->setFocus();
    return;
  }
  const std::array<QLineEdit *, 3> alarmEdits{leAlarmHigh, leAlarmLow, leAlarmHysteresis};
  std::array<QString, 3> alarmTexts;
  for (size_t k = 0; k < alarmEdits.size(); ++k)
    alarmTexts[k] = alarmEdits[k]->text();
  std::optional<AlarmLimits> alarm = CP::AcceptAlarmTexts(ckxAlarmEnabled->isChecked(), alarmTexts, m_acceptedAlarm);
  if (!alarm) {
    Msg::error(parentWidget() ? parentWidget() : this, CP::kBadFloatMessage);
    const std::size_t bad = CP::FirstBadAlarmText(alarmTexts);
    alarmEdits[bad]->setText(m_acceptedAlarm[bad]);
    alarmEdits[bad]->setFocus();
    return;
  }
  const auto [rangeMin, rangeMax, scale, offset] = m_accepted;
  // The view's setters write too; a failure anywhere in this OK is told once.
  SettingsCommit commit(*m_ctx->settings);

  // 2. A physical input outside the list (not offered by the dialog) stays as it is.
  if (cbxPhysicalChannel->currentIndex() >= 0)
    c->setPhysicalChannel(cbxPhysicalChannel->currentText().toInt());
  c->setTitle(leTitle->text());
  c->setMainTitle(leMainTitle->text());
  c->setMeasureUnit(leMeasureUnit->text());
  c->SetRange(rangeMin, rangeMax);
  c->setScale(scale);
  c->setOffset(offset);
  c->setCurveColor(curveColor());
  if (cbxSignalType->currentIndex() >= 0)
    c->setSignalType(static_cast<TSignalType>(cbxSignalType->currentIndex()));

  // 3. The view writes each of these keys itself.
  v->setShowNowValue(ckxShowNowValue->isChecked());
  v->setShowMaxValue(ckxShowMaxValue->isChecked());
  v->setShowMinValue(ckxShowMinValue->isChecked());

  // 4. One rewrite of Sys.ini for the whole section.
  CP::ChannelKeys keys;
  keys.BaseValue = c->BaseValue();
  keys.PhysicalChannel = c->PhysicalChannel();
  keys.Title = c->Title();
  keys.MainTitle = c->MainTitle();
  keys.MeasureUnit = c->MeasureUnit();
  keys.RangeMin = c->RangeMin();
  keys.RangeMax = c->RangeMax();
  keys.Scale = c->Scale();
  keys.Offset = c->Offset();
  keys.CurveColor = c->CurveColor();
  keys.SignalType = static_cast<int>(c->SignalType());
  ProfileStore &s = *m_ctx->settings;
  QList<ProfileStore::Entry> entries = CP::ChannelSectionEntries(i, keys);
  entries += CP::AlarmSectionEntries(i, *alarm);
  s.writeEntries(entries);
  v->setAlarmLimits(*alarm);

  // 5.
  m_ctx->formats.setPrecision(i, spePrecisionArray->value());
  s.writeInteger(Sections::channel(i), QStringLiteral("PrecisionArray"), spePrecisionArray->value());

  // 6. The X/Y view reads its channels' titles and ranges when it is set up.
  const Options &o = m_ctx->options;
  if ((i == o.XChannelNo || i == o.YChannelNo) && m_hooks.setupXYView)
    m_hooks.setupXYView();

  // 7. The channel and its view keep the accepted values even when Sys.ini kept the old ones.
  commit.report(this);
  accept();
}
