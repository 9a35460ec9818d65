#include "app/TAboutBox.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TAboutBox::TAboutBox(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("关于"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
  setFixedSize(393, 171);

  auto *panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto *pl = new QVBoxLayout(panel);
  ProductName = new QLabel(QStringLiteral("仪表数据采集软件"), panel);
  QFont big = ProductName->font();
  big.setPointSize(big.pointSize() + 4);
  big.setBold(true);
  ProductName->setFont(big);
  Version = new QLabel(QStringLiteral("版本 %1").arg(QCoreApplication::applicationVersion()), panel);
  Copyright = new QLabel(QStringLiteral("Corvane"), panel);
  lblWebAddress = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(kWebAddress), panel);
  lblWebAddress->setOpenExternalLinks(true);
  for (QLabel *l : {ProductName, Version, Copyright, lblWebAddress})
    pl->addWidget(l);

  OKButton = new QPushButton(QStringLiteral("确定(&O)"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setDefault(true);
  OKButton->setFocus();
  connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);

  auto *l = new QVBoxLayout(this);
  l->addWidget(panel);
  l->addWidget(OKButton, 0, Qt::AlignHCenter);
}

void TAboutBox::OKButtonClick() { accept(); }
