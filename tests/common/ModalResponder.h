#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QMessageBox>
#include <QTimer>

#include <deque>

// Answers the message boxes a test provokes: each box that comes up is recorded and answered with
// the next button from the queue (Ok/Cancel when the queue runs dry, so a test never hangs).
class ModalResponder : public QObject {
public:
  struct Seen {
    QString caption;
    QString text;
    QMessageBox::Icon icon;
  };

  explicit ModalResponder(std::deque<QMessageBox::StandardButton> answers = {})
      : m_answers(std::move(answers)) {
    m_timer.setInterval(5);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
    m_timer.start();
  }

  std::vector<Seen> seen;

private:
  void poll() {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box == m_last)
      return;
    m_last = box;
    seen.push_back({box->windowTitle(), box->text(), box->icon()});
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (!m_answers.empty()) {
      answer = m_answers.front();
      m_answers.pop_front();
    }
    QAbstractButton *b = answer != QMessageBox::NoButton ? box->button(answer) : nullptr;
    if (!b)
      b = box->button(QMessageBox::Cancel) ? box->button(QMessageBox::Cancel)
                                           : box->button(QMessageBox::Ok);
    if (!b)
      b = box->buttons().value(0);
    QTimer::singleShot(0, b, [b] { b->click(); });
  }

  std::deque<QMessageBox::StandardButton> m_answers;
  QTimer m_timer;
  QPointer<QMessageBox> m_last;
};
