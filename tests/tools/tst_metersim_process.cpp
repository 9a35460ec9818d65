// Runs the meter-sim program and talks to its pseudo-terminals like the acquisition program does.
#include <QDeadlineTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 10000;

// Starts meter-sim and waits for its READY line; fills the COMn -> device map.
bool startSim(QProcess &proc, const QStringList &args, QMap<QString, QString> *ports) {
  proc.start(QStringLiteral(METER_SIM_PATH), args);
  if (!proc.waitForStarted(kWaitMs))
    return false;
  QByteArray out;
  const QDeadlineTimer deadline(kWaitMs);
  while (!out.contains("READY\n")) {
    if (deadline.hasExpired() || (proc.state() == QProcess::NotRunning && !proc.bytesAvailable()))
      return false;
    proc.waitForReadyRead(100);
    out += proc.readAllStandardOutput();
  }
  for (const QByteArray &line : out.split('\n')) {
    const int eq = line.indexOf('=');
    if (eq > 0)
      ports->insert(QString::fromLatin1(line.left(eq)), QString::fromLatin1(line.mid(eq + 1)));
  }
  return true;
}

void stopSim(QProcess &proc) {
  if (proc.state() == QProcess::NotRunning)
    return;
  proc.terminate();
  if (!proc.waitForFinished(kWaitMs)) {
    proc.kill();
    proc.waitForFinished(kWaitMs);
  }
}

QStringList logLines(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  return QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

// The log lines that are events (not comments) whose fields 2.. start with the given text.
int countEvents(const QStringList &lines, const QString &fieldsFromPort) {
  int n = 0;
  for (const QString &l : lines)
    if (!l.startsWith('#') && l.section(' ', 1).startsWith(fieldsFromPort))
      ++n;
  return n;
}

quint8 xorOf(const QByteArray &b, int count) {
  quint8 sum = 0;
  for (int i = 0; i < count; ++i)
    sum ^= quint8(b[i]);
  return sum;
}

bool checksumMatches(const QByteArray &frame) {
  bool ok = false;
  const uint sum = frame.mid(13, 2).toUInt(&ok, 16);
  return ok && sum == xorOf(frame, 13);
}

// Reading of a frame with 0 decimal places: digits 8..12, least significant first.
int counterValue(const QByteArray &frame) {
  QByteArray digits = frame.mid(8, 5);
  std::reverse(digits.begin(), digits.end());
  return digits.toInt();
}

struct Cut {
  QList<QByteArray> frames; // '@' and the 15 bytes after it
  QList<QByteArray> extras; // bytes between the end of each frame and the next '@'
};

// Cuts the stream at '@' like the program's framer; the last, perhaps incomplete, piece is left.
Cut cutFrames(const QByteArray &stream) {
  Cut cut;
  QList<QByteArray> pieces = stream.split('@');
  pieces.removeFirst(); // before the first frame we saw
  if (!pieces.isEmpty())
    pieces.removeLast();
  for (const QByteArray &p : pieces) {
    if (p.size() < 15)
      continue;
    cut.frames << '@' + p.left(15);
    cut.extras << p.mid(15);
  }
  return cut;
}

// Stops the simulator when a test returns early on a failed check.
struct SimGuard {
  QProcess &proc;
  ~SimGuard() { stopSim(proc); }
};

class PortReader {
public:
  explicit PortReader(const QString &device) {
    port.setPortName(device);
    port.setBaudRate(9600);
    QObject::connect(&port, &QSerialPort::readyRead, [this] { data += port.readAll(); });
  }
  QSerialPort port;
  QByteArray data;
};

} // namespace

class TestMeterSimProcess : public QObject {
  Q_OBJECT

private slots:
  void activeAndQueryMeters() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ini = dir.filePath("Sys.ini");
    const QString log = dir.filePath("log.txt");
    {
      QFile f(ini);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("[Port Options]\r\nBaud=7\r\n");
    }
    QProcess proc;
    const SimGuard guard{proc};
    QMap<QString, QString> ports;
    QVERIFY(startSim(proc, {"--port", "COM3", "--meter", "active,addr=12,interval=20,gen=counter",
                            "--port", "COM4", "--meter", "query,addr=1,delay=20,gen=constant:12.34,decimals=2",
                            "--meter", "query,addr=3,gen=constant:-5,decimals=3",
                            "--sys-ini", ini, "--log", log, "--seed", "5"},
                     &ports));
    QCOMPARE(ports.keys(), (QStringList{"COM3", "COM4"}));

    // Active meter: consecutive counter values in valid frames.
    PortReader com3(ports["COM3"]);
    QVERIFY(com3.port.open(QIODevice::ReadWrite));
    QTRY_VERIFY_WITH_TIMEOUT(com3.data.size() >= 16 * 10, kWaitMs);
    com3.port.close();
    QList<int> values;
    for (int i = 0; i + 16 <= com3.data.size(); i += 16) {
      const QByteArray frame = com3.data.mid(i, 16);
      QVERIFY2(frame.startsWith("@012RD00"), frame.constData());
      QVERIFY(checksumMatches(frame));
      QCOMPARE(frame[15], '\r');
      values << counterValue(frame);
      if (values.size() > 1)
        QCOMPARE(values.last(), values[values.size() - 2] + 1);
    }

    // Query meters: an ignored address, a bad request, then the worked reply frames.
    PortReader com4(ports["COM4"]);
    QVERIFY(com4.port.open(QIODevice::ReadWrite));
    QVERIFY(com4.port.write("@005RD63\r@001RD67\r") == 18);
    QTRY_VERIFY_WITH_TIMEOUT(com4.data.size() >= 16, kWaitMs);
    QCOMPARE(com4.data.left(16), QByteArray::fromHex("4030303152443032343332313035310D"));
    QVERIFY(com4.port.write("@001RD68\r@003RD65\r") == 18);
    QTRY_VERIFY_WITH_TIMEOUT(com4.data.size() >= 32, kWaitMs);
    QCOMPARE(com4.data.mid(16, 16), QByteArray::fromHex("4030303352443133303030353035320D"));

    // The log has every frame we received and every request we sent.
    QTRY_VERIFY_WITH_TIMEOUT(countEvents(logLines(log), "COM4 003 TX-REPLY") == 1, kWaitMs);
    const QStringList lines = logLines(log);
    QVERIFY(lines.first().startsWith("# meter-sim seed=5 "));
    for (const QString &l : lines) {
      if (l.startsWith('#'))
        continue;
      QCOMPARE(l.split(' ').size(), 7);
      bool ok = false;
      l.section(' ', 0, 0).toDouble(&ok);
      QVERIFY2(ok, qPrintable(l));
    }
    QCOMPARE(countEvents(lines, "COM3 - OPEN " + ports["COM3"] + " - -"), 1);
    for (int i = 0; i < values.size(); ++i) {
      const QByteArray frame = com3.data.mid(i * 16, 16);
      const QString expected = QStringLiteral("COM3 012 TX-ACTIVE - %1 %2\\x0d")
                                   .arg(values[i])
                                   .arg(QString::fromLatin1(frame.left(15)));
      QVERIFY2(countEvents(lines, expected) == 1, qPrintable(expected));
    }
    QCOMPARE(countEvents(lines, "COM4 005 RX-OTHER - - @005RD63\\x0d"), 1);
    QCOMPARE(countEvents(lines, "COM4 001 RX-REQUEST - - @001RD67\\x0d"), 1);
    QCOMPARE(countEvents(lines, "COM4 001 TX-REPLY - 12.34 @001RD024321051\\x0d"), 1);
    QCOMPARE(countEvents(lines, "COM4 - RX-BAD - - @001RD68\\x0d"), 1);
    QCOMPARE(countEvents(lines, "COM4 003 RX-REQUEST - - @003RD65\\x0d"), 1);
    QCOMPARE(countEvents(lines, "COM4 003 TX-REPLY - -5.000 @003RD130005052\\x0d"), 1);
    QCOMPARE(countEvents(lines, "COM4 001 TX-REPLY"), 1);
    QCOMPARE(countEvents(lines, "COM4 005"), 1);

    // Sys.ini maps both ports and keeps what was there.
    {
      QFile f(ini);
      QVERIFY(f.open(QIODevice::ReadOnly));
      const QString text = QString::fromLatin1(f.readAll());
      QVERIFY2(text.contains("[Port Options]") && text.contains("Baud=7"), qPrintable(text));
      QVERIFY2(text.contains("[Serial Ports]"), qPrintable(text));
      QVERIFY2(text.contains("COM3=" + ports["COM3"]), qPrintable(text));
      QVERIFY2(text.contains("COM4=" + ports["COM4"]), qPrintable(text));
    }

    com4.port.close();
    proc.terminate();
    QVERIFY(proc.waitForFinished(kWaitMs));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
    const QStringList after = logLines(log);
    QVERIFY(after.contains("# stop: SIGTERM"));
    QCOMPARE(countEvents(after, "COM3 - CLOSE stop"), 1);
    QCOMPARE(countEvents(after, "COM4 - CLOSE stop"), 1);
    QVERIFY(!QFile::exists(ports["COM3"]));
  }

  void commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stdoutHas");
    QTest::addColumn<QString>("stderrHas");
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: meter-sim" << "";
    QTest::newRow("no port") << QStringList{} << 2 << "" << "no --port";
    QTest::newRow("bad meter") << QStringList{"--port", "COM1", "--meter", "query,addr=abc"} << 2
                               << "" << "bad addr";
    QTest::newRow("unknown option") << QStringList{"--port", "COM1", "--fast"} << 2 << ""
                                    << "unknown option";
    QTest::newRow("log cannot be written")
        << QStringList{"--port", "COM1", "--log", "/nonexistent-dir/log.txt"} << 1 << ""
        << "cannot open log";
  }

  void commandLine() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutHas);
    QFETCH(QString, stderrHas);
    QProcess proc;
    proc.start(QStringLiteral(METER_SIM_PATH), args);
    QVERIFY(proc.waitForFinished(kWaitMs));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), exitCode);
    const QString out = QString::fromLocal8Bit(proc.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(proc.readAllStandardError());
    QVERIFY2(out.contains(stdoutHas), qPrintable(out));
    QVERIFY2(err.contains(stderrHas), qPrintable(err));
    QVERIFY(!out.split('\n').contains("READY"));
  }

  void portDisappears() {
    QTemporaryDir dir;
    const QString log = dir.filePath("log.txt");
    QProcess proc;
    const SimGuard guard{proc};
    QMap<QString, QString> ports;
    QVERIFY(startSim(proc, {"--port", "COM1", "--meter", "active,interval=10", "--port", "COM2",
                            "--close-port-after", "COM1:300", "--log", log},
                     &ports));
    PortReader com1(ports["COM1"]);
    QVERIFY(com1.port.open(QIODevice::ReadOnly));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(ports["COM1"]), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(com1.port.error() != QSerialPort::NoError, kWaitMs);
    QVERIFY(QFile::exists(ports["COM2"]));
    QCOMPARE(countEvents(logLines(log), "COM1 - CLOSE closed-by-option"), 1);
    stopSim(proc);
  }

  // What nobody reads is discarded, as on a real line: a late reader gets fresh frames only.
  void unreadFramesAreDiscarded() {
    QTemporaryDir dir;
    const QString log = dir.filePath("log.txt");
    QProcess proc;
    const SimGuard guard{proc};
    QMap<QString, QString> ports;
    QVERIFY(startSim(proc, {"--port", "COM1", "--meter", "active,addr=7,interval=20", "--log", log},
                     &ports));
    QTRY_VERIFY_WITH_TIMEOUT(countEvents(logLines(log), "COM1 - FLUSH") > 0, kWaitMs);
    int lastDiscarded = -1;
    for (const QString &l : logLines(log)) {
      if (l.section(' ', 1).startsWith("COM1 - FLUSH"))
        break;
      if (l.section(' ', 1).startsWith("COM1 007 TX-ACTIVE"))
        lastDiscarded = l.section(' ', 5, 5).toInt();
    }
    QVERIFY(lastDiscarded >= 0);
    PortReader com1(ports["COM1"]);
    QVERIFY(com1.port.open(QIODevice::ReadOnly));
    QTRY_VERIFY_WITH_TIMEOUT(com1.data.size() >= 16, kWaitMs);
    QVERIFY(com1.data.startsWith("@007RD00"));
    QVERIFY(counterValue(com1.data.left(16)) > lastDiscarded);
  }

  // A reader that keeps reading is never flushed, however far behind it runs: it reads one
  // frame every 20 ms of a meter sending a frame every millisecond, so bytes always wait.
  void slowReaderIsNotFlushed() {
    QTemporaryDir dir;
    const QString log = dir.filePath("log.txt");
    QProcess proc;
    const SimGuard guard{proc};
    QMap<QString, QString> ports;
    QVERIFY(startSim(proc, {"--port", "COM1", "--meter", "active,addr=7,interval=1", "--log", log}, &ports));
    const int fd = ::open(QFile::encodeName(ports["COM1"]).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QByteArray data;
    int flushesBefore = -1; // what was discarded before this reader began is no concern here
    for (int pass = 0; pass < 75; ++pass) { // 1.5 s, three times the simulator's stale-input time
      QThread::msleep(20);
      char frame[16];
      const ssize_t n = ::read(fd, frame, sizeof frame);
      if (n > 0)
        data.append(frame, n);
      if (flushesBefore < 0 && !data.isEmpty())
        flushesBefore = countEvents(logLines(log), "COM1 - FLUSH");
    }
    ::close(fd);
    stopSim(proc);
    QVERIFY(flushesBefore >= 0);
    QCOMPARE(countEvents(logLines(log), "COM1 - FLUSH"), flushesBefore);
    // Whole frames with consecutive counter values: nothing was discarded in between.
    data = data.mid(data.indexOf('@'));
    data.truncate(data.size() - data.size() % 16);
    QVERIFY(data.size() >= 16 * 10);
    for (qsizetype at = 16; at < data.size(); at += 16)
      QCOMPARE(counterValue(data.mid(at, 16)), counterValue(data.mid(at - 16, 16)) + 1);
  }

  void durationEndsRun() {
    QTemporaryDir dir;
    const QString log = dir.filePath("log.txt");
    QProcess proc;
    const SimGuard guard{proc};
    QMap<QString, QString> ports;
    QVERIFY(startSim(proc, {"--port", "COM1", "--meter", "active,interval=10", "--duration-ms", "200",
                            "--log", log},
                     &ports));
    QVERIFY(proc.waitForFinished(kWaitMs));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
    const QStringList lines = logLines(log);
    QVERIFY(lines.contains("# stop: duration"));
    QVERIFY(countEvents(lines, "COM1 001 TX-ACTIVE") > 0);
  }

  // Every frame carries the fault (rate 1); checked on the bytes as a receiver sees them.
  void faults_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("logKind");
    QTest::newRow("checksum") << "checksum" << "TX-FAULT checksum";
    QTest::newRow("terminator") << "terminator" << "TX-FAULT terminator";
    QTest::newRow("decimal6") << "decimal6" << "TX-FAULT decimal6";
    QTest::newRow("upper") << "upper" << "TX-ACTIVE upper";
    QTest::newRow("garbage") << "garbage" << "TX-GARBAGE garbage";
  }

  void faults() {
    QFETCH(QString, fault);
    QFETCH(QString, logKind);
    QTemporaryDir dir;
    const QString log = dir.filePath("log.txt");
    QProcess proc;
    const SimGuard guard{proc};
    QMap<QString, QString> ports;
    QVERIFY(startSim(proc, {"--port", "COM1", "--meter", "active,addr=8,interval=5",
                            "--faults", fault, "--fault-rate", "1", "--seed", "3", "--log", log},
                     &ports));
    PortReader com1(ports["COM1"]);
    QVERIFY(com1.port.open(QIODevice::ReadOnly));
    QTRY_VERIFY_WITH_TIMEOUT(cutFrames(com1.data).frames.size() >= 20, kWaitMs);
    const Cut cut = cutFrames(com1.data);
    bool sawUpperLetter = false;
    for (int i = 0; i < cut.frames.size(); ++i) {
      const QByteArray &f = cut.frames[i];
      QVERIFY(f.startsWith("@008RD0"));
      if (fault == "checksum") {
        QVERIFY(!checksumMatches(f));
        QCOMPARE(f[15], '\r');
      } else if (fault == "terminator") {
        QVERIFY(checksumMatches(f));
        QVERIFY(f[15] != '\r');
      } else if (fault == "decimal6") {
        QCOMPARE(f[7], '6');
        QVERIFY(checksumMatches(f));
        QCOMPARE(f[15], '\r');
      } else {
        QVERIFY(checksumMatches(f));
        QCOMPARE(f[15], '\r');
      }
      if (fault == "upper") {
        QCOMPARE(f.mid(13, 2), f.mid(13, 2).toUpper());
        sawUpperLetter |= std::any_of(f.begin() + 13, f.begin() + 15,
                                      [](char c) { return c >= 'A' && c <= 'F'; });
      }
      if (fault == "garbage") {
        QVERIFY(!cut.extras[i].isEmpty() && cut.extras[i].size() <= 8);
      } else if (fault != "terminator") {
        QVERIFY(cut.extras[i].isEmpty());
      }
    }
    if (fault == "upper")
      QVERIFY(sawUpperLetter);
    QVERIFY(countEvents(logLines(log), "COM1 008 " + logKind) > 0);
    stopSim(proc);
  }

  void silence() {
    QTemporaryDir dir;
    const QString log = dir.filePath("log.txt");
    QProcess proc;
    const SimGuard guard{proc};
    QMap<QString, QString> ports;
    QVERIFY(startSim(proc, {"--port", "COM1", "--meter", "active,addr=2,interval=5",
                            "--meter", "query,addr=4", "--faults", "silence", "--fault-rate", "1",
                            "--silence-ms", "50", "--log", log},
                     &ports));
    PortReader com1(ports["COM1"]);
    QVERIFY(com1.port.open(QIODevice::ReadWrite));
    QVERIFY(com1.port.write("@004RD62\r") == 9);
    QTRY_VERIFY_WITH_TIMEOUT(countEvents(logLines(log), "COM1 002 SILENCE silence 50 -") >= 2 &&
                                 countEvents(logLines(log), "COM1 004 NO-REPLY silence") == 1,
                             kWaitMs);
    const QStringList lines = logLines(log);
    QCOMPARE(countEvents(lines, "COM1 004 RX-REQUEST"), 1);
    QCOMPARE(countEvents(lines, "COM1 002 TX-"), 0);
    QCOMPARE(countEvents(lines, "COM1 004 TX-"), 0);
    stopSim(proc);
    QVERIFY(com1.data.isEmpty());
  }
};

QTEST_GUILESS_MAIN(TestMeterSimProcess)
#include "tst_metersim_process.moc"
