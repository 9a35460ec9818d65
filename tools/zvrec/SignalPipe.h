#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

// Turns SIGINT/SIGTERM into a Qt signal on the thread that made it. The handler only writes the
// signal number into a socket pair (the self-pipe trick); everything else runs in the event loop.
// One per process.
class SignalPipe : public QObject {
  Q_OBJECT
public:
  explicit SignalPipe(std::initializer_list<int> signalNumbers, QObject *parent = nullptr);
  ~SignalPipe() override;
  SignalPipe(const SignalPipe &) = delete;
  SignalPipe &operator=(const SignalPipe &) = delete;

  [[nodiscard]] bool ok() const { return m_notifier != nullptr; }

signals:
  void received(int signalNumber);

private:
  static void handle(int signalNumber);
  void readPending();

  int m_fds[2] = {-1, -1};
  QSocketNotifier *m_notifier = nullptr;
};
