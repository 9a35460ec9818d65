#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <mutex>
#include <vector>

class AutoResetEvent;

namespace detail {
// One blocked wait. Lives on the waiting thread's stack and is registered with the
// events (and the stop signal) it waits on until the wait returns.
struct EventWaiter {
  std::mutex mutex;
  std::condition_variable wake;
  int outcome;  // guarded by mutex; kPending until the wait is decided
};
}  // namespace detail

// Wakes every wait that was given it, now and until clear(): a polling thread blocked
// in a pacing wait leaves it at once when the acquisition stops.
class StopSignal {
public:
  StopSignal() = default;
  StopSignal(const StopSignal &) = delete;
  StopSignal &operator=(const StopSignal &) = delete;

  void request();
  void clear();
  [[nodiscard]] bool requested() const;

private:
  friend class AutoResetEvent;
  // Returns false (and registers nothing) when stop has already been requested.
  [[nodiscard]] bool attach(detail::EventWaiter *waiter);
  void detach(detail::EventWaiter *waiter);

  mutable std::mutex m_mutex;
  bool m_requested = false;
  std::vector<detail::EventWaiter *> m_waiters;
};

// A process-local auto-reset event. set() releases exactly one waiting thread; with
// no thread waiting the event stays signalled until one wait consumes it.
class AutoResetEvent {
public:
  static constexpr int kTimeout = -1;
  static constexpr int kStopped = -2;
  static constexpr qint64 kInfinite = -1;  // any negative time-out waits without limit

  AutoResetEvent() = default;
  AutoResetEvent(const AutoResetEvent &) = delete;
  AutoResetEvent &operator=(const AutoResetEvent &) = delete;
  ~AutoResetEvent();

  void set();
  // Drops a pending signal.
  void reset();
  [[nodiscard]] bool isSet() const;
  // Threads blocked on this event right now (diagnostics, and for tests to know a
  // waiter has gone to sleep).
  [[nodiscard]] int waitingThreads() const;

  // True when a signal was consumed; false on time-out or stop.
  [[nodiscard]] bool wait(qint64 timeoutMs, StopSignal *stop = nullptr);

  // Waits for whichever of a and b is signalled first and consumes that one signal.
  // Returns 0 for a, 1 for b, kTimeout, or kStopped. A stop already requested wins
  // over pending signals, which stay pending.
  [[nodiscard]] static int WaitAny(AutoResetEvent &a, AutoResetEvent &b, qint64 timeoutMs,
                                   StopSignal *stop = nullptr);

private:
  struct Registration {
    detail::EventWaiter *waiter;
    int index;  // what the waiter returns when this event releases it
  };

  [[nodiscard]] static int WaitOn(AutoResetEvent *a, AutoResetEvent *b, qint64 timeoutMs,
                                  StopSignal *stop);

  mutable std::mutex m_mutex;
  bool m_signalled = false;
  std::vector<Registration> m_waiters;  // first come, first released
};
