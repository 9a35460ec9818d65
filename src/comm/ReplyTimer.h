#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

// A one-shot reply window that never ends before its time: a precise timer, and on expiry a
// check against the monotonic clock that re-arms for whatever is left. A coarse QTimer may fire
// up to 5 % early, which turns a 200 ms window into 190 ms and loses a meter that answers late.
class ReplyTimer : public QObject {
  Q_OBJECT
public:
  explicit ReplyTimer(QObject *parent = nullptr);

  // (Re)starts the window; timeout() follows no sooner than ms milliseconds from now.
  void start(int ms);
  void stop();
  [[nodiscard]] bool isActive() const { return m_timer.isActive(); }

signals:
  void timeout();

private:
  void onTimer();

  QTimer m_timer;
  QDeadlineTimer m_deadline;
};
