#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

// The frame the settings and properties dialogs share: their page control on top, then "确定(&O)"
// (the default button) and the hidden "取消(&C)" at the right.
struct DialogButtons {
  QPushButton *ok = nullptr;
  QPushButton *cancel = nullptr;
};

inline DialogButtons BuildDialogFrame(QDialog *dialog, QWidget *pages) {
  DialogButtons b;
  b.ok = new QPushButton(QStringLiteral("确定(&O)"), dialog);
  b.ok->setObjectName(QStringLiteral("btnOK"));
  b.ok->setDefault(true);
  b.cancel = new QPushButton(QStringLiteral("取消(&C)"), dialog);
  b.cancel->setObjectName(QStringLiteral("btnCancel"));
  b.cancel->hide();
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(b.ok);
  buttons->addWidget(b.cancel);
  auto *l = new QVBoxLayout(dialog);
  l->addWidget(pages);
  l->addLayout(buttons);
  return b;
}
