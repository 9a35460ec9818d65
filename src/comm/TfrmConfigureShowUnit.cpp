#include "comm/TfrmConfigureShowUnit.h"

#include "comm/PortDiagnostics.h"
#include "comm/TfrmConfigure.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
constexpr QSize kPlainSize(276, 269);
constexpr int kDiagnosticsRowHeight = 18;
constexpr int kLabelColumnWidth = 64;
constexpr int kPortColumnWidth = 52;
} // namespace

TfrmConfigureShowUnit::TfrmConfigureShowUnit(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmConfigureShowUnit"));
  setWindowTitle(QStringLiteral("仪表信息"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kPlainSize);

  frmConfigure1 = new TfrmConfigure(this);
  btnClose = new QPushButton(QStringLiteral("关闭(&C)"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
  iLedBar1 = new QProgressBar(this);
  iLedBar1->setObjectName(QStringLiteral("iLedBar1"));
  iLedBar1->setRange(0, 100);
  iLedBar1->setTextVisible(false);
  iLedBar1->setFixedHeight(10);
  iLedBar1->hide();

  lblDiagnostics = new QLabel(QStringLiteral("通讯诊断（最近一次采集）:"), this);
  lblDiagnostics->setObjectName(QStringLiteral("lblDiagnostics"));
  gridDiagnostics = new QTableWidget(this);
  gridDiagnostics->setObjectName(QStringLiteral("gridDiagnostics"));
  gridDiagnostics->setFont(frmConfigure1->font());
  gridDiagnostics->horizontalHeader()->hide();
  gridDiagnostics->verticalHeader()->hide();
  gridDiagnostics->verticalHeader()->setDefaultSectionSize(kDiagnosticsRowHeight);
  gridDiagnostics->horizontalHeader()->setDefaultSectionSize(kPortColumnWidth);
  gridDiagnostics->setEditTriggers(QAbstractItemView::NoEditTriggers);
  gridDiagnostics->setSelectionMode(QAbstractItemView::NoSelection);
  gridDiagnostics->setFocusPolicy(Qt::NoFocus);
  gridDiagnostics->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Room for every row and for the scroll bar that more than four ports need, so the meter grid
  // above keeps its full height.
  gridDiagnostics->setFixedHeight(
      static_cast<int>(DiagnosticsRows({PortStats{}}).size()) * kDiagnosticsRowHeight +
      2 * gridDiagnostics->frameWidth() +
      gridDiagnostics->horizontalScrollBar()->sizeHint().height());
  lblDiagnostics->hide();
  gridDiagnostics->hide();
  lblPublishing = new QLabel(this);
  lblPublishing->setObjectName(QStringLiteral("lblPublishing"));
  lblPublishing->hide();

  auto *l = new QVBoxLayout(this);
  l->setContentsMargins(2, 2, 2, 2);
  l->addWidget(frmConfigure1, 1);
  l->addWidget(lblDiagnostics);
  l->addWidget(gridDiagnostics);
  l->addWidget(lblPublishing);
  l->addWidget(btnClose, 0, Qt::AlignRight);
  l->addWidget(iLedBar1);
  if (const QScreen *s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());

  m_refresh.setInterval(kRefreshMs);
  connect(&m_refresh, &QTimer::timeout, this, &TfrmConfigureShowUnit::refreshDiagnostics);
}

void TfrmConfigureShowUnit::setStatsSource(StatsSource source) {
  m_source = std::move(source);
  if (isVisible())
    refreshDiagnostics();
}

void TfrmConfigureShowUnit::refreshDiagnostics() {
  // A search shows its own progress in this window; the last acquisition's counts would mislead.
  const bool searching = !iLedBar1->isHidden();
  const QList<QStringList> rows =
      (m_source && !searching) ? DiagnosticsRows(m_source()) : QList<QStringList>{};
  const bool show = !rows.isEmpty();
  if (show) {
    const int columns = static_cast<int>(rows.first().size());
    gridDiagnostics->setRowCount(static_cast<int>(rows.size()));
    gridDiagnostics->setColumnCount(columns);
    gridDiagnostics->setColumnWidth(0, kLabelColumnWidth);
    for (int r = 0; r < rows.size(); ++r) {
      for (int c = 0; c < columns; ++c)
        SetFixedGridCell(gridDiagnostics, r, c, rows[r].value(c));
    }
  }
  lblDiagnostics->setVisible(show);
  gridDiagnostics->setVisible(show);
  const QString publishing = (m_publishing && !searching) ? m_publishing() : QString();
  lblPublishing->setText(publishing);
  lblPublishing->setVisible(!publishing.isEmpty());
  int extra = show ? lblDiagnostics->sizeHint().height() + gridDiagnostics->height() + 2 * layout()->spacing() : 0;
  if (!publishing.isEmpty())
    extra += lblPublishing->sizeHint().height() + layout()->spacing();
  setFixedSize(kPlainSize + QSize(0, extra));
}

void TfrmConfigureShowUnit::showEvent(QShowEvent *event) {
  refreshDiagnostics();
  m_refresh.start();
  QDialog::showEvent(event);
}

void TfrmConfigureShowUnit::hideEvent(QHideEvent *event) {
  m_refresh.stop();
  QDialog::hideEvent(event);
}
