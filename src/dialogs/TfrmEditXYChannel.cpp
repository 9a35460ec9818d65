#include "dialogs/TfrmEditXYChannel.h"

#include "app/AppContext.h"
#include "app/MessageBoxes.h"
#include "app/SettingsCommit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kClientWidth = 266;
constexpr int kClientHeight = 164;
} // namespace

TfrmEditXYChannel::TfrmEditXYChannel(AppContext &ctx, Hooks hooks, QWidget *parent)
    : TfrmEditXYChannel(parent) {
  bind(ctx, std::move(hooks));
}

TfrmEditXYChannel::TfrmEditXYChannel(QWidget *parent) : QDialog(parent) { FormCreate(); }

void TfrmEditXYChannel::bind(AppContext &ctx, Hooks hooks) {
  m_ctx = &ctx;
  m_hooks = std::move(hooks);
  btnOK->setEnabled(true);
}

void TfrmEditXYChannel::FormCreate() {
  setObjectName(QStringLiteral("frmEditXYChannel"));
  setWindowTitle(QStringLiteral("属性"));
  QFont f(QStringLiteral("宋体"));
  f.setPixelSize(12);
  setFont(f);

  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  layout->addWidget(PageControl1);

  auto *axes = new QWidget;
  auto *al = new QGridLayout(axes);
  lblHint = new QLabel(QStringLiteral("根据仪表信息中的序号,选择XY轴的数据来源:"), axes);
  lblHint->setWordWrap(true);
  al->addWidget(lblHint, 0, 0, 1, 2);
  auto makeBox = [axes](const QString &name) {
    auto *box = new QComboBox(axes);
    box->setObjectName(name);
    box->setEditable(true);
    // Typed text must never become an entry of its own.
    box->setInsertPolicy(QComboBox::NoInsert);
    for (int i = 1; i <= kChannelEntries; ++i)
      box->addItem(QString::number(i));
    return box;
  };
  cbXChannelNo = makeBox(QStringLiteral("cbXChannelNo"));
  cbYChannelNo = makeBox(QStringLiteral("cbYChannelNo"));
  al->addWidget(new QLabel(QStringLiteral("X轴序号:"), axes), 1, 0);
  al->addWidget(cbXChannelNo, 1, 1);
  al->addWidget(new QLabel(QStringLiteral("Y轴序号:"), axes), 2, 0);
  al->addWidget(cbYChannelNo, 2, 1);
  PageControl1->addTab(axes, QStringLiteral("XY轴序号"));

  auto *window = new QWidget;
  auto *wl = new QVBoxLayout(window);
  gbPanel = new QGroupBox(QStringLiteral("信息显示窗内容"), window);
  auto *gl = new QVBoxLayout(gbPanel);
  ckxShowNowValueX = new QCheckBox(QStringLiteral("X轴当前值(&X)"), gbPanel);
  ckxShowNowValueX->setObjectName(QStringLiteral("ckxShowNowValueX"));
  ckxShowNowValueY = new QCheckBox(QStringLiteral("Y轴当前值(&Y)"), gbPanel);
  ckxShowNowValueY->setObjectName(QStringLiteral("ckxShowNowValueY"));
  gl->addWidget(ckxShowNowValueX);
  gl->addWidget(ckxShowNowValueY);
  wl->addWidget(gbPanel);
  PageControl1->addTab(window, QStringLiteral("信息显示窗"));

  btnOK = new QPushButton(QStringLiteral("确定(&O)"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  btnOK->setEnabled(false); // until bound to the program's context
  layout->addWidget(btnOK, 0, Qt::AlignRight);
  connect(btnOK, &QPushButton::clicked, this, &TfrmEditXYChannel::btnOKClick);

  // The design size, grown where the installed fonts need more room: a fixed 266 x 164 cuts
  // the wrapped hint text with any font wider than the one it was laid out for.
  const QSize least = minimumSizeHint();
  const int width = std::max(kClientWidth, least.width());
  const int height = std::max({kClientHeight, least.height(),
                               layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : 0});
  setFixedSize(width, height);
}

int TfrmEditXYChannel::execOnPage(int page) {
  PageControl1->setCurrentIndex(page);
  return exec();
}

void TfrmEditXYChannel::showEvent(QShowEvent *event) {
  FormShow();
  QDialog::showEvent(event);
}

void TfrmEditXYChannel::FormShow() {
  if (!m_ctx)
    return;
  const Options &o = m_ctx->options;
  // A stored index outside the list shows as no selection; OK then refuses it.
  cbXChannelNo->setCurrentIndex(o.XChannelNo >= 0 && o.XChannelNo < kChannelEntries ? o.XChannelNo : -1);
  cbYChannelNo->setCurrentIndex(o.YChannelNo >= 0 && o.YChannelNo < kChannelEntries ? o.YChannelNo : -1);
  ckxShowNowValueX->setChecked(
      m_ctx->settings->readBool(Sections::ChannelXY, QStringLiteral("xShowNowValueX"), true));
  ckxShowNowValueY->setChecked(
      m_ctx->settings->readBool(Sections::ChannelXY, QStringLiteral("xShowNowValueY"), true));
}

std::optional<int> TfrmEditXYChannel::Selection(const QComboBox *box) {
  const QString text = box->currentText().trimmed();
  // The text is what the operator sees; the index may lag behind typing.
  const int typed = box->findText(text, Qt::MatchExactly);
  if (typed >= 0)
    return typed;
  return std::nullopt;
}

QString TfrmEditXYChannel::NoMeterMessage(const QString &number) {
  return QStringLiteral("序号") + number + QStringLiteral("上没有仪表,请重新选择!");
}

std::optional<int> TfrmEditXYChannel::checkedChannel(const QComboBox *box) {
  const std::optional<int> index = Selection(box);
  if (!index) {
    Msg::error(this, NoMeterMessage(box->currentText().trimmed()));
    return std::nullopt;
  }
  if (*index >= m_ctx->meters.MeterAmount) {
    Msg::error(this, NoMeterMessage(QString::number(*index + 1)));
    return std::nullopt;
  }
  return index;
}

void TfrmEditXYChannel::btnOKClick() {
  if (!m_ctx)
    return;
  const std::optional<int> x = checkedChannel(cbXChannelNo);
  if (!x)
    return;
  const std::optional<int> y = checkedChannel(cbYChannelNo);
  if (!y)
    return;
  Options &o = m_ctx->options;
  o.XChannelNo = *x;
  o.YChannelNo = *y;
  const bool showX = ckxShowNowValueX->isChecked();
  const bool showY = ckxShowNowValueY->isChecked();
  const QString &S = Sections::ChannelXY;
  auto flag = [](bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); };
  SettingsCommit commit(*m_ctx->settings);
  m_ctx->settings->writeEntries({{S, QStringLiteral("XChannelNo"), QString::number(*x)},
                                 {S, QStringLiteral("YChannelNo"), QString::number(*y)},
                                 {S, QStringLiteral("xShowNowValueX"), flag(showX)},
                                 {S, QStringLiteral("xShowNowValueY"), flag(showY)}});
  if (m_hooks.setupXYView)
    m_hooks.setupXYView();
  commit.report(this);
  accept();
}
