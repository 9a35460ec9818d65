#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QMutex>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QStringList>

class PortRegistry;

// Baud-rate codes as stored in the "Baud" setting: the index into this list.
// Code 0 ("custom") has no rate of its own in the stored settings, so it opens at 9600 baud, the
// meters' factory rate; codes outside 0..15 fall back to 9600 as well.
inline constexpr int kBaudCodeCount = 16;
inline constexpr int kDefaultBaudCode = 7;
[[nodiscard]] int BaudRateForCode(int code);
// The text of a code in the settings dialog's list: "自定义" for 0, the rate for the others;
// empty for codes outside the list.
[[nodiscard]] QString BaudRateText(int code);
[[nodiscard]] QStringList BaudRateTexts();

// "COM" followed by the number.
[[nodiscard]] QString ComPortName(int comNumber);
// Message when a port in use cannot be opened before an acquisition: "COM3不存在,或被其他程序占用！".
[[nodiscard]] QString PortUnavailableMessage(int comNumber);
// Message when the search cannot open a port: "COM3被其他程序占用！".
[[nodiscard]] QString PortBusyMessage(int comNumber);
// Message when an open port fails while in use (device unplugged, line hung up).
[[nodiscard]] QString PortLostMessage(int comNumber);

enum class SerialLinkError : int {
  None = 0,
  NotMapped = 1,        // no device is mapped to the COM number
  DeviceMissing = 2,    // mapped, but the device is not there now
  Busy = 3,             // opened by us or by another program
  PermissionDenied = 4, // no read/write access to the device
  OpenFailed = 5,       // any other failure to open or configure
};

// One serial port, opened by COM number through the port registry, with the meters' line
// settings: 8 data bits, no parity, 1 stop bit, no flow control, DTR and RTS inactive.
//
// Threads: the link is a QObject that lives on one thread (the communication thread) and must
// be opened, closed and destroyed there; bytesReceived and errorOccurred are emitted there.
// writeAll() may be called from any thread: it writes to the port's descriptor directly under
// a mutex that close() also takes, so a write never meets a closed or reused descriptor, and it
// never goes through QSerialPort's own (thread-affine) write buffer.
class SerialLink : public QObject {
  Q_OBJECT
public:
  explicit SerialLink(const PortRegistry &registry, QObject *parent = nullptr);
  ~SerialLink() override;
  SerialLink(const SerialLink &) = delete;
  SerialLink &operator=(const SerialLink &) = delete;

  // Closes the port if open, then opens "COM" + comNumber at the rate of baudCode. Bytes that
  // arrived before the open are dropped; only what comes afterwards is received.
  [[nodiscard]] SerialLinkError open(int comNumber, int baudCode);
  void close();
  [[nodiscard]] bool isOpen() const;

  [[nodiscard]] int comNumber() const { return m_com; }
  [[nodiscard]] QString portName() const { return ComPortName(m_com); }
  // Technical detail of the last failure (system message), for diagnostics.
  [[nodiscard]] QString errorString() const { return m_errorString; }

  // Hands all bytes to the port; false when the port is closed, the device fails, or the line
  // does not take the bytes within kWriteTimeoutMs. Thread-safe.
  [[nodiscard]] bool writeAll(QByteArrayView bytes);

  static constexpr int kWriteTimeoutMs = 1000;

signals:
  void bytesReceived(const QByteArray &bytes);
  // The open port failed while in use and has been closed; the text names the port.
  void errorOccurred(const QString &message);

private:
  void onReadyRead();
  void onPortError(QSerialPort::SerialPortError error);
  void finishLostPort();
  void closePort();

  const PortRegistry &m_registry;
  QSerialPort *m_port; // child of this link, so it follows moveToThread
  int m_com = 0;
  QString m_errorString;
  bool m_lostPending = false;

  QMutex m_writeMutex; // guards m_fd against close() while another thread writes
  int m_fd = -1;
};
