#include "SignalPipe.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
volatile sig_atomic_t g_writeFd = -1;
} // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers, QObject *parent) : QObject(parent) {
  // The write end does not block: a flood of signals must never hang the handler.
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_fds) != 0)
    return;
  g_writeFd = m_fds[1];
  m_notifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, &SignalPipe::readPending);
  for (const int s : signalNumbers) {
    struct sigaction sa {};
    sa.sa_handler = &SignalPipe::handle;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(s, &sa, nullptr);
  }
}

SignalPipe::~SignalPipe() {
  g_writeFd = -1;
  delete m_notifier;
  for (int &fd : m_fds)
    if (fd >= 0)
      ::close(fd);
}

void SignalPipe::handle(int signalNumber) {
  const int saved = errno;
  const int fd = g_writeFd;
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

void SignalPipe::readPending() {
  unsigned char bytes[16];
  const ssize_t n = ::read(m_fds[0], bytes, sizeof bytes);
  for (ssize_t i = 0; i < n; ++i)
    emit received(bytes[i]);
}
