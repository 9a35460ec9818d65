#include "comm/TfrmConfigureShowUnit.h"

#include "comm/TfrmConfigure.h"

#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TfrmConfigureShowUnit::TfrmConfigureShowUnit(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmConfigureShowUnit"));
  setWindowTitle(QStringLiteral("仪表信息"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(276, 269);

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

  auto *l = new QVBoxLayout(this);
  l->setContentsMargins(2, 2, 2, 2);
  l->addWidget(frmConfigure1, 1);
  l->addWidget(btnClose, 0, Qt::AlignRight);
  l->addWidget(iLedBar1);
  if (const QScreen *s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
}
