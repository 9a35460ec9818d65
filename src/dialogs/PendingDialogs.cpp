// Dialogs that start-up creates but whose contents are still being built. Each says so plainly.
#include "dialogs/TfrmEditChannel.h"
#include "dialogs/TfrmEditChannelAll.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
void buildPending(QDialog *d, const QString &name, const QString &caption) {
  d->setObjectName(name);
  d->setWindowTitle(caption);
  auto *l = new QVBoxLayout(d);
  l->addWidget(new QLabel(QStringLiteral("此对话框尚在开发中。"), d));
  auto *ok = new QPushButton(QStringLiteral("关闭(&C)"), d);
  QObject::connect(ok, &QPushButton::clicked, d, &QDialog::reject);
  l->addWidget(ok, 0, Qt::AlignRight);
}
} // namespace

TfrmEditChannel::TfrmEditChannel(QWidget *parent) : QDialog(parent) {
  buildPending(this, QStringLiteral("frmEditChannel"), QStringLiteral("通道参数设置"));
}
TfrmEditChannelAll::TfrmEditChannelAll(QWidget *parent) : QDialog(parent) {
  buildPending(this, QStringLiteral("frmEditChannelAll"), QStringLiteral("通道比较设置"));
}
