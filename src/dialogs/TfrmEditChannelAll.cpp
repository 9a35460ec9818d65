#include "dialogs/TfrmEditChannelAll.h"

#include "app/AppContext.h"
#include "dialogs/DialogFrame.h"
#include "app/MessageBoxes.h"
#include "app/SettingsCommit.h"
#include "dialogs/ChannelProperties.h"
#include "views/ViewBoard.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <array>

namespace CP = ChannelProperties;

TfrmEditChannelAll::TfrmEditChannelAll(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmEditChannelAll"));
  setWindowTitle(QStringLiteral("属性"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
  setMinimumSize(408, 178);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  tsRunOption = new QWidget;
  tsRunOption->setObjectName(QStringLiteral("tsRunOption"));
  auto *g = new QGridLayout(tsRunOption);
  auto row = [this, g](int r, int col, const char *name, const QString &text) {
    auto *e = new QLineEdit(tsRunOption);
    e->setObjectName(QString::fromLatin1(name));
    auto *l = new QLabel(text, tsRunOption);
    l->setBuddy(e);
    g->addWidget(l, r, col);
    g->addWidget(e, r, col + 1);
    return e;
  };
  leTitle = row(0, 0, "leTitle", QStringLiteral("Y轴标题:"));
  leMeasureUnit = row(1, 0, "leMeasureUnit", QStringLiteral("Y轴单位:"));
  leRangeMin = row(0, 2, "leRangeMin", QStringLiteral("Y轴最小值:"));
  leRangeMax = row(1, 2, "leRangeMax", QStringLiteral("Y轴最大值:"));
  leMainTitle = new QLineEdit(tsRunOption);
  leMainTitle->setObjectName(QStringLiteral("leMainTitle"));
  auto *lblMain = new QLabel(QStringLiteral("主标题:"), tsRunOption);
  lblMain->setBuddy(leMainTitle);
  g->addWidget(lblMain, 2, 0);
  g->addWidget(leMainTitle, 2, 1, 1, 3);
  g->setRowStretch(3, 1);
  PageControl1->addTab(tsRunOption, QStringLiteral("绘图区"));

  const DialogButtons buttons = BuildDialogFrame(this, PageControl1);
  btnOK = buttons.ok;
  btnCancel = buttons.cancel;
  btnOK->setEnabled(false); // until attached
  connect(btnOK, &QPushButton::clicked, this, &TfrmEditChannelAll::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmEditChannelAll::btnCancelClick);
}

TfrmEditChannelAll::TfrmEditChannelAll(AppContext &ctx, ViewBoard *board, QWidget *parent)
    : TfrmEditChannelAll(parent) {
  attach(ctx, board);
}

void TfrmEditChannelAll::attach(AppContext &ctx, ViewBoard *board) {
  m_ctx = &ctx;
  m_board = board;
}

void TfrmEditChannelAll::showEvent(QShowEvent *event) {
  FormShow();
  QDialog::showEvent(event);
}

void TfrmEditChannelAll::FormShow() {
  btnOK->setEnabled(m_ctx != nullptr);
  if (!m_ctx)
    return;
  const CP::CompareKeys k = CP::ReadCompareKeys(*m_ctx->settings);
  leMainTitle->setText(k.MainTitle);
  leTitle->setText(k.Title);
  leMeasureUnit->setText(k.MeasureUnit);
  leRangeMin->setText(CP::FloatText(k.RangeMin));
  leRangeMax->setText(CP::FloatText(k.RangeMax));
}

void TfrmEditChannelAll::btnCancelClick() { reject(); }

void TfrmEditChannelAll::btnOKClick() {
  if (!m_ctx)
    return;
  // 1. The refused text stays, selected, so the operator can correct it.
  const std::array<QLineEdit *, 2> floats{leRangeMin, leRangeMax};
  const std::array<QString, 2> texts{leRangeMin->text(), leRangeMax->text()};
  std::array<double, 2> values{};
  if (const std::optional<std::size_t> bad = CP::AcceptFloats(texts, values)) {
    Msg::error(parentWidget() ? parentWidget() : this, CP::kBadFloatMessage);
    floats[*bad]->setFocus();
    floats[*bad]->selectAll();
    return;
  }

  // 2.
  CP::CompareKeys k;
  k.Title = leTitle->text();
  k.MainTitle = leMainTitle->text();
  k.MeasureUnit = leMeasureUnit->text();
  k.RangeMin = values[0];
  k.RangeMax = values[1];
  SettingsCommit commit(*m_ctx->settings);
  m_ctx->settings->writeEntries(CP::CompareSectionEntries(k));

  // 3. The chart reads the section back; what could not be written is still read as accepted.
  if (m_board)
    m_board->SetupCompareView();

  // 4.
  commit.report(this);
  accept();
}
