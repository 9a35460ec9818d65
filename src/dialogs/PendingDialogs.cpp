// Dialogs that start-up creates but whose contents are still being built. Each says so plainly.
#include "dialogs/TfrmEditXYChannel.h"

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

TfrmEditXYChannel::TfrmEditXYChannel(QWidget *parent) : QDialog(parent) {
  buildPending(this, QStringLiteral("frmEditXYChannel"), QStringLiteral("X/Y曲线设置"));
}
