#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QString>

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

// A pseudo-terminal for tests: the program opens the slave by its path like a serial port, the
// test plays the meter on the master. The slave descriptor from openpty stays open so its line
// settings can be inspected; it is never read, so all data goes to whoever opens the path.
class PtyPair {
public:
  PtyPair() {
    char name[PATH_MAX] = {};
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
      return;
    m_master = master;
    m_slave = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() {
    closeMaster();
    if (m_slave >= 0)
      ::close(m_slave);
  }
  PtyPair(const PtyPair &) = delete;
  PtyPair &operator=(const PtyPair &) = delete;

  [[nodiscard]] bool isValid() const { return m_master >= 0; }
  [[nodiscard]] const QString &slavePath() const { return m_slavePath; }
  [[nodiscard]] int slaveFd() const { return m_slave; }

  // Hangs up the line, as when a meter's adapter is unplugged.
  void closeMaster() {
    if (m_master >= 0)
      ::close(m_master);
    m_master = -1;
  }

  [[nodiscard]] bool writeMaster(QByteArrayView bytes) const {
    qsizetype done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(m_master, bytes.data() + done, size_t(bytes.size() - done));
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        return false;
      done += n;
    }
    return true;
  }

  // Reads until count bytes have arrived or the time is up; returns what arrived.
  [[nodiscard]] QByteArray readMaster(qsizetype count, int timeoutMs = 5000) const {
    QByteArray got;
    const QDeadlineTimer deadline(timeoutMs);
    // Polls at least once, so a timeout of 0 picks up what is already there.
    while (got.size() < count) {
      pollfd pfd{m_master, POLLIN, 0};
      if (::poll(&pfd, 1, int(deadline.remainingTime())) <= 0) {
        if (deadline.hasExpired())
          break;
        continue;
      }
      char buf[256];
      const ssize_t n = ::read(m_master, buf, sizeof buf);
      if (n > 0)
        got.append(buf, n);
      else if (n == 0 || (errno != EAGAIN && errno != EINTR))
        break;
    }
    return got;
  }

private:
  int m_master = -1;
  int m_slave = -1;
  QString m_slavePath;
};
