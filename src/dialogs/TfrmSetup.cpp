#include "dialogs/TfrmSetup.h"

#include "app/AppContext.h"
#include "app/Conversions.h"
#include "comm/SerialLink.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
QComboBox *unitList(QWidget *parent, const QString &name) {
  auto *c = new QComboBox(parent);
  c->setObjectName(name);
  return c;
}
} // namespace

TfrmSetup::TfrmSetup(AppContext &ctx, PanelWriter writePanel, QWidget *parent)
    : QDialog(parent), m_ctx(ctx), m_writePanel(std::move(writePanel)) {
  setObjectName(QStringLiteral("frmSetup"));
  setWindowTitle(QStringLiteral("参数设置"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
  setMinimumSize(511, 229);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));

  auto *sys = new QWidget;
  auto *sysForm = new QFormLayout(sys);
  cbxBaud = new QComboBox(sys);
  cbxBaud->setObjectName(QStringLiteral("cbxBaud"));
  sysForm->addRow(QStringLiteral("波特率:"), cbxBaud);
  rgSampleMode = new QGroupBox(QStringLiteral("结束方式"), sys);
  rgSampleMode->setObjectName(QStringLiteral("rgSampleMode"));
  auto *rgl = new QVBoxLayout(rgSampleMode);
  rbManual = new QRadioButton(rgSampleMode);
  rbTimed = new QRadioButton(rgSampleMode);
  rgl->addWidget(rbManual);
  rgl->addWidget(rbTimed);
  sysForm->addRow(rgSampleMode);
  cbxKeepTimeUnit = unitList(sys, QStringLiteral("cbxKeepTimeUnit"));
  sysForm->addRow(QStringLiteral("定时时间单位:"), cbxKeepTimeUnit);
  cbxSampleIntervalUnit = unitList(sys, QStringLiteral("cbxSampleIntervalUnit"));
  sysForm->addRow(QStringLiteral("间隔时间:"), cbxSampleIntervalUnit);
  cbxSampleRate = new QComboBox(sys);
  cbxSampleRate->setObjectName(QStringLiteral("cbxSampleRate"));
  cbxSampleRate->hide(); // carried without effect; its group is hidden

  auto *display = new QWidget;
  auto *dispForm = new QFormLayout(display);
  cbxTimeWindowUnit = unitList(display, QStringLiteral("cbxTimeWindowUnit"));
  for (int u = 0; u < 4; ++u)
    cbxTimeWindowUnit->addItem(TimeUnitName(u));
  dispForm->addRow(QStringLiteral("每屏时间:"), cbxTimeWindowUnit);

  auto *save = new QWidget;
  new QVBoxLayout(save);

  PageControl1->addTab(sys, QStringLiteral("系统设置"));
  PageControl1->addTab(display, QStringLiteral("显示设置"));
  PageControl1->addTab(save, QStringLiteral("数据保存"));

  lblNotReady = new QLabel(QStringLiteral("参数设置的编辑与保存尚在开发中：此处的修改不会被保存。"), this);
  lblNotReady->setWordWrap(true);
  btnOK = new QPushButton(QStringLiteral("确定(&O)"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::close);

  auto *l = new QVBoxLayout(this);
  l->addWidget(PageControl1);
  l->addWidget(lblNotReady);
  l->addWidget(btnOK, 0, Qt::AlignRight);

  FormCreate();
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
  m_writePanel(2, EndModePanelText(o));
  m_writePanel(3, SampleIntervalPanelText(o));
  m_writePanel(4, QStringLiteral("波特率：") + cbxBaud->currentText());
  PageControl1->setCurrentIndex(1);
}

QString TfrmSetup::selectBaud(int code) {
  if (code >= 0 && code < cbxBaud->count())
    cbxBaud->setCurrentIndex(code);
  else
    cbxBaud->setCurrentIndex(-1); // an unknown code selects nothing, as a list would
  return cbxBaud->currentText();
}
