#pragma once

#include <QMessageBox>

// The program's message boxes: caption "错误" for errors, "提示" for questions and notices.
namespace Msg {
inline const QString kError = QStringLiteral("错误");
inline const QString kHint = QStringLiteral("提示");

inline QMessageBox::StandardButton show(QWidget *parent, QMessageBox::Icon icon, const QString &caption,
                                        const QString &text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton def = QMessageBox::NoButton) {
  QMessageBox box(icon, caption, text, buttons, parent);
  if (def != QMessageBox::NoButton)
    box.setDefaultButton(def);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}
inline void error(QWidget *parent, const QString &text) {
  show(parent, QMessageBox::Critical, kError, text, QMessageBox::Ok);
}
inline void notice(QWidget *parent, const QString &text, QMessageBox::Icon icon = QMessageBox::Information) {
  show(parent, icon, kHint, text, QMessageBox::Ok);
}
} // namespace Msg
