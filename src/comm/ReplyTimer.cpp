#include "comm/ReplyTimer.h"

#include <algorithm>

ReplyTimer::ReplyTimer(QObject *parent) : QObject(parent), m_timer(this) {
  m_timer.setSingleShot(true);
  m_timer.setTimerType(Qt::PreciseTimer);
  connect(&m_timer, &QTimer::timeout, this, &ReplyTimer::onTimer);
}

void ReplyTimer::start(int ms) {
  m_deadline = QDeadlineTimer(std::max(ms, 0), Qt::PreciseTimer);
  m_timer.start(std::max(ms, 0));
}

void ReplyTimer::stop() { m_timer.stop(); }

void ReplyTimer::onTimer() {
  const qint64 leftNs = m_deadline.remainingTimeNSecs();
  if (leftNs > 0) {
    // Rounded up to whole milliseconds, so the second expiry is certainly past the deadline.
    m_timer.start(static_cast<int>((leftNs + 999'999) / 1'000'000));
    return;
  }
  emit timeout();
}
