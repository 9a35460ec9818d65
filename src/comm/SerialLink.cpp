#include "comm/SerialLink.h"

#include "comm/PortRegistry.h"

#include <QDeadlineTimer>
#include <QFile>

#include <array>
#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace {

constexpr std::array<int, kBaudCodeCount> kBaudRates = {
    9600, // 0: custom; no rate of its own is stored, so the meters' factory rate
    110,   300,   600,   1200,  2400,   4800,   9600,
    14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000,
};

bool validCode(int code) { return code >= 0 && code < kBaudCodeCount; }

} // namespace

int BaudRateForCode(int code) {
  return validCode(code) ? kBaudRates[static_cast<std::size_t>(code)]
                         : kBaudRates[kDefaultBaudCode];
}

QString BaudRateText(int code) {
  if (!validCode(code))
    return {};
  if (code == 0)
    return QStringLiteral("自定义");
  return QString::number(kBaudRates[static_cast<std::size_t>(code)]);
}

QStringList BaudRateTexts() {
  QStringList texts;
  for (int code = 0; code < kBaudCodeCount; ++code)
    texts.append(BaudRateText(code));
  return texts;
}

QString ComPortName(int comNumber) { return QStringLiteral("COM%1").arg(comNumber); }

QString PortUnavailableMessage(int comNumber) {
  return ComPortName(comNumber) + QStringLiteral("不存在,或被其他程序占用！");
}

QString PortBusyMessage(int comNumber) {
  return ComPortName(comNumber) + QStringLiteral("被其他程序占用！");
}

QString PortLostMessage(int comNumber) {
  return ComPortName(comNumber) + QStringLiteral("通信出错，设备可能已断开！");
}

SerialLink::SerialLink(const PortRegistry &registry, QObject *parent)
    : QObject(parent), m_registry(registry), m_port(new QSerialPort(this)) {
  connect(m_port, &QSerialPort::readyRead, this, &SerialLink::onReadyRead);
  connect(m_port, &QSerialPort::errorOccurred, this, &SerialLink::onPortError);
}

SerialLink::~SerialLink() { close(); }

SerialLinkError SerialLink::open(int comNumber, int baudCode) {
  close();
  m_com = comNumber;
  m_errorString.clear();

  const std::optional<QString> path = m_registry.devicePath(comNumber);
  if (!path) {
    m_errorString = QStringLiteral("%1 is not mapped to a device").arg(portName());
    return SerialLinkError::NotMapped;
  }
  if (!PortRegistry::deviceExists(*path)) {
    m_errorString = QStringLiteral("%1 (%2) does not exist").arg(portName(), *path);
    return SerialLinkError::DeviceMissing;
  }

  m_port->setPortName(*path);
  m_port->setBaudRate(BaudRateForCode(baudCode));
  m_port->setDataBits(QSerialPort::Data8);
  m_port->setParity(QSerialPort::NoParity);
  m_port->setStopBits(QSerialPort::OneStop);
  m_port->setFlowControl(QSerialPort::NoFlowControl);

  // QSerialPort takes the port's lock file and TIOCEXCL, so a port already open here or in
  // another program fails to open instead of being shared.
  if (!m_port->open(QIODevice::ReadWrite)) {
    const QSerialPort::SerialPortError error = m_port->error();
    m_errorString = m_port->errorString();
    m_port->clearError();
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
      return SerialLinkError::DeviceMissing;
    case QSerialPort::PermissionError:
      // A held lock and missing rights both come back as PermissionError; only the latter
      // shows in the file's access bits.
      if (::access(QFile::encodeName(*path).constData(), R_OK | W_OK) != 0)
        return SerialLinkError::PermissionDenied;
      return SerialLinkError::Busy;
    default:
      return SerialLinkError::OpenFailed;
    }
  }

  // Pseudo-terminals have no modem lines and refuse these ioctls; that is no reason to fail.
  if (!m_port->setDataTerminalReady(false))
    m_port->clearError();
  if (!m_port->setRequestToSend(false))
    m_port->clearError();
  // Whatever waited in the line before we opened it (frames a meter sent while nobody listened)
  // is old: taken now it would become the first readings of a recording or a search.
  if (!m_port->clear(QSerialPort::Input))
    m_port->clearError();

  QMutexLocker lock(&m_writeMutex);
  m_fd = static_cast<int>(m_port->handle());
  return SerialLinkError::None;
}

void SerialLink::close() {
  m_lostPending = false;
  closePort();
}

void SerialLink::closePort() {
  {
    QMutexLocker lock(&m_writeMutex);
    m_fd = -1;
  }
  if (m_port->isOpen())
    m_port->close();
  m_port->clearError();
}

bool SerialLink::isOpen() const { return m_port->isOpen(); }

bool SerialLink::writeAll(QByteArrayView bytes) {
  QMutexLocker lock(&m_writeMutex);
  if (m_fd < 0)
    return false;
  const char *data = bytes.data();
  qsizetype left = bytes.size();
  const QDeadlineTimer deadline(kWriteTimeoutMs);
  while (left > 0) {
    const ssize_t n = ::write(m_fd, data, static_cast<size_t>(left));
    if (n > 0) {
      data += n;
      left -= n;
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The descriptor is non-blocking; wait for room in the output queue.
      const qint64 remaining = deadline.remainingTime();
      if (remaining <= 0)
        return false;
      pollfd pfd{m_fd, POLLOUT, 0};
      const int ready = ::poll(&pfd, 1, static_cast<int>(remaining));
      if (ready < 0 && errno == EINTR)
        continue;
      if (ready <= 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
        return false;
      continue;
    }
    return false;
  }
  return true;
}

void SerialLink::onReadyRead() {
  const QByteArray bytes = m_port->readAll();
  if (!bytes.isEmpty())
    emit bytesReceived(bytes);
}

void SerialLink::onPortError(QSerialPort::SerialPortError error) {
  // A vanished USB adapter reports ResourceError; a hung-up pseudo-terminal reports ReadError
  // on every notification. Neither recovers, and left open the port would spin on its notifier.
  if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
    return;
  if (m_lostPending || !m_port->isOpen())
    return;
  m_lostPending = true;
  m_errorString = m_port->errorString();
  {
    QMutexLocker lock(&m_writeMutex);
    m_fd = -1; // writers fail from now on
  }
  // Closing from inside QSerialPort's own notification would delete its notifier under it.
  QMetaObject::invokeMethod(this, &SerialLink::finishLostPort, Qt::QueuedConnection);
}

void SerialLink::finishLostPort() {
  if (!m_lostPending)
    return;
  m_lostPending = false;
  closePort();
  emit errorOccurred(PortLostMessage(m_com));
}
