#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <ctime>

// Monotonic milliseconds on the clock of meter-sim's log (CLOCK_MONOTONIC).
inline double MonotonicNowMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// One line of meter-sim's event log: TIME PORT ADDR KIND NOTE VALUE BYTES.
struct SimEvent {
  double time = 0;
  QString port;
  QString addr;
  QString kind;
  QString note;
  QString value;
};

// A meter-sim process for one test: started with --sys-ini and --log, terminated on destruction.
class MeterSim {
public:
  static constexpr int kWaitMs = 10000;

  MeterSim() = default;
  MeterSim(QString sysIni, QString logPath) : m_ini(std::move(sysIni)), m_log(std::move(logPath)) {}
  ~MeterSim() { stop(); }
  MeterSim(const MeterSim &) = delete;
  MeterSim &operator=(const MeterSim &) = delete;

  // Starts the simulator with the given ports, meters and options and waits for READY.
  [[nodiscard]] bool start(const QStringList &args) {
    m_proc.start(QStringLiteral(METER_SIM_PATH),
                 args + QStringList{QStringLiteral("--sys-ini"), m_ini, QStringLiteral("--log"), m_log});
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
      const qsizetype eq = line.indexOf('=');
      if (eq > 0)
        ports.insert(QString::fromLatin1(line.left(eq)), QString::fromLatin1(line.mid(eq + 1)));
    }
    return true;
  }

  // The same with the Sys.ini and the log given here (a fixed seed keeps runs repeatable).
  [[nodiscard]] bool start(const QStringList &args, const QString &sysIni, const QString &logPath) {
    m_ini = sysIni;
    m_log = logPath;
    return start(args + QStringList{QStringLiteral("--seed"), QStringLiteral("1")});
  }

  // Terminates the simulator; its log is complete afterwards.
  void stop() {
    if (m_proc.state() == QProcess::NotRunning)
      return;
    m_proc.terminate();
    if (!m_proc.waitForFinished(kWaitMs)) {
      m_proc.kill();
      m_proc.waitForFinished(kWaitMs);
    }
  }

  // The event lines logged so far (comments and a torn last line left out).
  [[nodiscard]] QList<SimEvent> events() const {
    QList<SimEvent> list;
    QFile f(m_log);
    if (!f.open(QIODevice::ReadOnly))
      return list;
    for (const QByteArray &raw : f.readAll().split('\n')) {
      const QString line = QString::fromLatin1(raw);
      if (line.startsWith(QLatin1Char('#')))
        continue;
      const QStringList fields = line.split(QLatin1Char(' '));
      if (fields.size() != 7)
        continue;
      bool ok = false;
      SimEvent e{fields[0].toDouble(&ok), fields[1], fields[2], fields[3], fields[4], fields[5]};
      if (ok)
        list.append(e);
    }
    return list;
  }

  // Events of one kind on one port (and address, unless empty), in log order.
  [[nodiscard]] QList<SimEvent> events(const QString &kind, const QString &port,
                                       const QString &addr = {}) const {
    QList<SimEvent> list;
    for (const SimEvent &e : events())
      if (e.kind == kind && e.port == port && (addr.isEmpty() || e.addr == addr))
        list.append(e);
    return list;
  }

  // Lines of one kind on a port.
  [[nodiscard]] int countKindOn(const QString &port, const QString &kind) const {
    return static_cast<int>(events(kind, port).size());
  }

  // Requests that reached a port, valid or not, for any address.
  [[nodiscard]] int requestsOn(const QString &port) const {
    return countKindOn(port, QStringLiteral("RX-REQUEST")) + countKindOn(port, QStringLiteral("RX-OTHER")) +
           countKindOn(port, QStringLiteral("RX-BAD"));
  }

  // The simulator's process id while it runs, else 0.
  [[nodiscard]] qint64 pid() const { return m_proc.processId(); }

  QMap<QString, QString> ports; // COMn -> device, from the simulator's mapping lines

private:
  QString m_ini;
  QString m_log;
  QProcess m_proc;
};
