#include "acquisition/AutoResetEvent.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr int kPending = -100;

// Beyond this a time-out is as good as none, and the deadline arithmetic stays in range.
constexpr qint64 kLongestTimeoutMs = qint64(1) << 40;

// Decides a wait unless something else already did; true when this call decided it.
bool Decide(detail::EventWaiter &waiter, int outcome) {
  const std::lock_guard lock(waiter.mutex);
  if (waiter.outcome != kPending)
    return false;
  waiter.outcome = outcome;
  waiter.wake.notify_one();
  return true;
}

// Locks one or two event mutexes without risk of lock-order inversion.
class EventsLock {
public:
  EventsLock(std::mutex &a, std::mutex *b) : m_a(a), m_b(b) {
    if (m_b)
      std::lock(m_a, *m_b);
    else
      m_a.lock();
  }
  ~EventsLock() {
    m_a.unlock();
    if (m_b)
      m_b->unlock();
  }
  EventsLock(const EventsLock &) = delete;
  EventsLock &operator=(const EventsLock &) = delete;

private:
  std::mutex &m_a;
  std::mutex *m_b;
};

}  // namespace

// --- StopSignal ---

void StopSignal::request() {
  const std::lock_guard lock(m_mutex);
  m_requested = true;
  for (detail::EventWaiter *waiter : m_waiters)
    Decide(*waiter, AutoResetEvent::kStopped);
}

void StopSignal::clear() {
  const std::lock_guard lock(m_mutex);
  m_requested = false;
}

bool StopSignal::requested() const {
  const std::lock_guard lock(m_mutex);
  return m_requested;
}

bool StopSignal::attach(detail::EventWaiter *waiter) {
  const std::lock_guard lock(m_mutex);
  if (m_requested)
    return false;
  m_waiters.push_back(waiter);
  return true;
}

void StopSignal::detach(detail::EventWaiter *waiter) {
  const std::lock_guard lock(m_mutex);
  std::erase(m_waiters, waiter);
}

// --- AutoResetEvent ---

AutoResetEvent::~AutoResetEvent() {
  // Destroying an event somebody still waits on is a lifetime fault of the owner.
  Q_ASSERT(m_waiters.empty());
}

void AutoResetEvent::set() {
  const std::lock_guard lock(m_mutex);
  while (!m_waiters.empty()) {
    const Registration front = m_waiters.front();
    m_waiters.erase(m_waiters.begin());
    // A waiter already released by its other event, timed out or stopped does not
    // take this signal; the next one does, or it stays pending.
    if (Decide(*front.waiter, front.index))
      return;
  }
  m_signalled = true;
}

void AutoResetEvent::reset() {
  const std::lock_guard lock(m_mutex);
  m_signalled = false;
}

bool AutoResetEvent::isSet() const {
  const std::lock_guard lock(m_mutex);
  return m_signalled;
}

int AutoResetEvent::waitingThreads() const {
  const std::lock_guard lock(m_mutex);
  return static_cast<int>(m_waiters.size());
}

bool AutoResetEvent::wait(qint64 timeoutMs, StopSignal *stop) {
  return WaitOn(this, nullptr, timeoutMs, stop) == 0;
}

int AutoResetEvent::WaitAny(AutoResetEvent &a, AutoResetEvent &b, qint64 timeoutMs,
                            StopSignal *stop) {
  return WaitOn(&a, &a == &b ? nullptr : &b, timeoutMs, stop);
}

int AutoResetEvent::WaitOn(AutoResetEvent *a, AutoResetEvent *b, qint64 timeoutMs,
                           StopSignal *stop) {
  if (stop && stop->requested())
    return kStopped;

  detail::EventWaiter waiter;
  waiter.outcome = kPending;
  {
    // Check and register under both locks, so a set() between the two checks
    // cannot slip past.
    const EventsLock lock(a->m_mutex, b ? &b->m_mutex : nullptr);
    if (a->m_signalled) {
      a->m_signalled = false;
      return 0;
    }
    if (b && b->m_signalled) {
      b->m_signalled = false;
      return 1;
    }
    if (timeoutMs == 0)
      return kTimeout;
    a->m_waiters.push_back({&waiter, 0});
    if (b)
      b->m_waiters.push_back({&waiter, 1});
  }

  if (stop && !stop->attach(&waiter))
    Decide(waiter, kStopped);

  {
    std::unique_lock lock(waiter.mutex);
    const auto decided = [&waiter] { return waiter.outcome != kPending; };
    if (timeoutMs < 0 || timeoutMs > kLongestTimeoutMs) {
      waiter.wake.wait(lock, decided);
    } else {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
      if (!waiter.wake.wait_until(lock, deadline, decided))
        waiter.outcome = kTimeout;
    }
  }

  // Once decided nobody touches the waiter except to skip it; unregister before it
  // goes out of scope.
  if (stop)
    stop->detach(&waiter);
  {
    const EventsLock lock(a->m_mutex, b ? &b->m_mutex : nullptr);
    const auto mine = [&waiter](const Registration &r) { return r.waiter == &waiter; };
    std::erase_if(a->m_waiters, mine);
    if (b)
      std::erase_if(b->m_waiters, mine);
  }
  return waiter.outcome;
}
