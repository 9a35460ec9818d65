#pragma once

// Runs tools/meter-sim for the search tests: its ports are mapped into the test's Sys.ini, and
// its event log tells which requests reached which port.
#include <QDeadlineTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>

class MeterSim {
public:
  static constexpr int kWaitMs = 10000;

  MeterSim() = default;
  MeterSim(const MeterSim &) = delete;
  MeterSim &operator=(const MeterSim &) = delete;
  ~MeterSim() { stop(); }

  // Starts the simulator with --sys-ini and --log and waits for its READY line.
  [[nodiscard]] bool start(const QStringList &args, const QString &sysIni, const QString &log) {
    m_log = log;
    m_proc.start(QStringLiteral(METER_SIM_PATH),
                 args + QStringList{"--sys-ini", sysIni, "--log", log, "--seed", "1"});
    if (!m_proc.waitForStarted(kWaitMs))
      return false;
    QByteArray out;
    const QDeadlineTimer deadline(kWaitMs);
    while (!out.contains("READY\n")) {
      if (deadline.hasExpired() ||
          (m_proc.state() == QProcess::NotRunning && !m_proc.bytesAvailable()))
        return false;
      m_proc.waitForReadyRead(100);
      out += m_proc.readAllStandardOutput();
    }
    for (const QByteArray &line : out.split('\n')) {
      const int eq = line.indexOf('=');
      if (eq > 0)
        ports.insert(QString::fromLatin1(line.left(eq)), QString::fromLatin1(line.mid(eq + 1)));
    }
    return true;
  }

  void stop() {
    if (m_proc.state() == QProcess::NotRunning)
      return;
    m_proc.terminate();
    if (!m_proc.waitForFinished(kWaitMs)) {
      m_proc.kill();
      m_proc.waitForFinished(kWaitMs);
    }
  }

  // Requests that reached a port, valid or not, for any address.
  [[nodiscard]] int requestsOn(const QString &port) const {
    return countKindOn(port, QStringLiteral("RX-REQUEST")) +
           countKindOn(port, QStringLiteral("RX-OTHER")) + countKindOn(port, QStringLiteral("RX-BAD"));
  }

  [[nodiscard]] int countKindOn(const QString &port, const QString &kind) const {
    QFile f(m_log);
    if (!f.open(QIODevice::ReadOnly))
      return -1;
    int n = 0;
    for (const QString &l : QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts))
      if (!l.startsWith('#') && l.section(' ', 1, 1) == port && l.section(' ', 3, 3) == kind)
        ++n;
    return n;
  }

  QMap<QString, QString> ports; // COMn -> device

private:
  QProcess m_proc;
  QString m_log;
};
