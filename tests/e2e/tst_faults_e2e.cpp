// The main window recording from simulated meters while things go wrong: corrupted frames, a
// device that disappears, a data folder that fills up, and a damaged or read-only Sys.ini. Each
// recording is checked against the simulator's own log of what it sent.
#include "MeterSim.h"

#include "acquisition/AcquisitionControl.h"
#include "acquisition/DataBlock.h"
#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "comm/PollingEngine.h"
#include "comm/SerialLink.h"
#include "common/ModalResponder.h"
#include "dialogs/TfrmSetup.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/fsuid.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kRecordWaitMs = 20000;

// One meter of a test line-up: its slot is its position in the list, so it feeds channel i.
struct Meter {
  int com = 1;
  int addr = 1;
  MeterMode mode = MeterMode::Active;
  QString sim; // meter-sim's description of it
};
using Meters = QList<Meter>;

QString portName(int com) { return QStringLiteral("COM%1").arg(com); }
QString addrText(int addr) { return QStringLiteral("%1").arg(addr, 3, 10, QLatin1Char('0')); }

QList<int> portsOf(const Meters &meters) {
  QList<int> ports;
  for (const Meter &m : meters)
    if (!ports.contains(m.com))
      ports << m.com;
  return ports;
}

// Sys.ini with the meter table of the line-up; query meters are asked again as soon as they answer.
void writeSettings(const QString &path, const Meters &meters, const QByteArray &extra = {}) {
  // The first of two equal keys counts, so `extra` goes before the defaults it may override.
  QByteArray s = "[System Options]\r\nFirstRun=0\r\n" + extra + "SampleInterval=0\r\nSampleIntervalUnit=0\r\n";
  const QList<int> ports = portsOf(meters);
  s += "[Meter Configure]\r\nMeterAmount=" + QByteArray::number(meters.size()) +
       "\r\nMeterComCount=" + QByteArray::number(ports.size()) + "\r\n";
  for (int i = 0; i < ports.size(); ++i)
    s += "MeterComPort" + QByteArray::number(i + 1) + "=" + QByteArray::number(ports[i]) + "\r\n";
  for (int i = 0; i < meters.size(); ++i)
    s += "[Meter Configure" + QByteArray::number(i + 1) + "]\r\nMeterNo=" + QByteArray::number(meters[i].addr) +
         "\r\nMeterCom=" + QByteArray::number(meters[i].com) + "\r\nMeterState=" +
         QByteArray::number(int(meters[i].mode)) + "\r\nMeterValid=1\r\n";
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  QCOMPARE(f.write(s), qint64(s.size()));
}

QStringList simArgs(const Meters &meters) {
  QStringList args;
  for (int com : portsOf(meters)) {
    args << "--port" << portName(com);
    for (const Meter &m : meters)
      if (m.com == com)
        args << "--meter" << m.sim;
  }
  return args;
}

// The good frames one meter sent, in order.
QList<SimEvent> goodFrames(const MeterSim &sim, const Meter &m) {
  return sim.events(m.mode == MeterMode::Active ? QStringLiteral("TX-ACTIVE") : QStringLiteral("TX-REPLY"),
                    portName(m.com), addrText(m.addr));
}

QList<double> valuesOf(const QList<SimEvent> &events) {
  QList<double> v;
  for (const SimEvent &e : events)
    v << e.value.toDouble();
  return v;
}

QList<double> channelValues(const TDataBlock &block, int channel) {
  QList<double> v;
  for (const TSampleRecord &r : block.samples)
    if (r.Channel == channel)
      v << double(r.Value); // packed: copy out
  return v;
}

QList<double> channelTimes(const TDataBlock &block, int channel) {
  QList<double> t;
  for (const TSampleRecord &r : block.samples)
    if (r.Channel == channel)
      t << double(r.Time);
  return t;
}

qint64 headBytes(int channels) {
  return DataFileFormat::kHeadSize + qint64(DataFileFormat::kChannelRecordSize) * channels;
}

// The file holds whole records only, every record names one of the channels, and times never go
// back.
void checkWholeFile(const TDataBlock &block, int channels) {
  QCOMPARE(int(block.status), int(DataFileStatus::Loaded));
  QCOMPARE(block.channelCount, channels);
  QCOMPARE(QFileInfo(block.fileName).size(),
           headBytes(channels) + qint64(DataFileFormat::kSampleSize) * qint64(block.samples.size()));
  double last = 0;
  for (const TSampleRecord &r : block.samples) {
    QVERIFY(r.Channel >= 0 && r.Channel < channels);
    QVERIFY(double(r.Time) >= last);
    last = r.Time;
  }
}

// What a channel recorded is a run of the good frames its meter sent: nothing else, in order,
// nothing twice, nothing skipped. Returns the index of the first recorded frame in `sent`.
qsizetype checkRecordedRun(const QList<double> &recorded, const QList<SimEvent> &sentEvents,
                           const QString &what) {
  const QList<double> sent = valuesOf(sentEvents);
  if (recorded.isEmpty())
    return 0;
  const qsizetype first = sent.indexOf(recorded.first());
  [&] {
    QVERIFY2(first >= 0, qPrintable(what + ": first value never sent as a good frame: " +
                                    QString::number(recorded.first())));
    QVERIFY2(QSet<double>(recorded.begin(), recorded.end()).size() == recorded.size(),
             qPrintable(what + ": a value recorded twice"));
    const QList<double> expected = sent.mid(first, recorded.size());
    for (qsizetype i = 0; i < recorded.size(); ++i)
      QVERIFY2(i < expected.size() && recorded[i] == expected[i],
               qPrintable(QStringLiteral("%1: sample %2 is %3, the meter's next good frame was %4")
                              .arg(what)
                              .arg(i)
                              .arg(recorded[i])
                              .arg(i < expected.size() ? QString::number(expected[i]) : QStringLiteral("none"))));
  }();
  return first;
}

int viewPoints(TfrmMain &main, int channel) { return main.board()->view(channel)->pltChannel->pointCount(0); }

// Every channel's chart shows exactly what its channel has in the file.
void checkChartsMatchFile(TfrmMain &main, const TDataBlock &block) {
  for (int ch = 0; ch < block.channelCount; ++ch)
    QTRY_COMPARE(viewPoints(main, ch), int(channelValues(block, ch).size()));
}

// Lowers the largest file this process may write; the file-size signal is ignored so that a write
// beyond it fails with EFBIG like a full disk instead of killing the process. Child processes
// started while it holds inherit it, so the simulator must already run.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    m_ok = ::getrlimit(RLIMIT_FSIZE, &m_saved) == 0;
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = m_saved;
    lowered.rlim_cur = bytes; // only the soft limit, so it can be raised again without privileges
    m_ok = m_ok && ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() { release(); }
  FileSizeLimit(const FileSizeLimit &) = delete;
  FileSizeLimit &operator=(const FileSizeLimit &) = delete;
  [[nodiscard]] bool ok() const { return m_ok; }
  void release() {
    if (m_released)
      return;
    m_released = true;
    ::setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_oldHandler);
  }

private:
  rlimit m_saved{};
  void (*m_oldHandler)(int) = SIG_DFL;
  bool m_ok = false;
  bool m_released = false;
};

// While alive, this thread's file accesses are checked as user "nobody" when the process runs as
// root, so permission bits deny writes as they would for an operator. A normal user is denied by
// the bits anyway. Start-up reads and writes Sys.ini on this (the UI) thread only.
class UnprivilegedFiles {
public:
  static constexpr uid_t kNobody = 65534;
  UnprivilegedFiles() {
    if (::geteuid() == 0) {
      ::setfsgid(kNobody);
      ::setfsuid(kNobody);
      m_dropped = true;
    }
  }
  ~UnprivilegedFiles() {
    if (m_dropped) {
      ::setfsuid(0);
      ::setfsgid(0);
    }
  }
  UnprivilegedFiles(const UnprivilegedFiles &) = delete;
  UnprivilegedFiles &operator=(const UnprivilegedFiles &) = delete;

private:
  bool m_dropped = false;
};

QByteArray readAll(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

template <size_t N> QByteArray bytes(const char (&text)[N]) { return QByteArray(text, N - 1); }

} // namespace

Q_DECLARE_METATYPE(Meters)

class TestFaults : public QObject {
  Q_OBJECT
  QTemporaryDir m_home;

private slots:
  void initTestCase() { qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8()); }

  // One in ten frames is corrupted, in every way the simulator knows. The file gets exactly the
  // good frames: no bad frame, none twice, none out of order, and of active meters none missing.
  void corruptedFramesNeverRecorded_data() {
    QTest::addColumn<Meters>("meters");
    QTest::addColumn<QString>("seed");
    const Meters active{{1, 12, MeterMode::Active, "active,addr=12,interval=5,gen=counter"},
                        {3, 7, MeterMode::Active, "active,addr=7,interval=7,gen=counter:20000"}};
    const Meters query{{2, 1, MeterMode::Query, "query,addr=1,gen=counter"},
                       {2, 3, MeterMode::Query, "query,addr=3,delay=2,gen=counter:30000"},
                       {4, 5, MeterMode::Query, "query,addr=5,gen=counter:50000"}};
    const Meters mixed{{1, 12, MeterMode::Active, "active,addr=12,interval=4,gen=counter"},
                       {2, 1, MeterMode::Query, "query,addr=1,gen=counter:40000"},
                       {2, 3, MeterMode::Query, "query,addr=3,gen=counter:60000"}};
    QTest::newRow("active meters, seed 1") << active << "1";
    QTest::newRow("active meters, seed 977") << active << "977";
    QTest::newRow("query meters, seed 5") << query << "5";
    QTest::newRow("query meters, seed 4242") << query << "4242";
    QTest::newRow("active and query meters, seed 31337") << mixed << "31337";
  }
  void corruptedFramesNeverRecorded() {
    QFETCH(Meters, meters);
    QFETCH(QString, seed);
    QTemporaryDir dir;
    writeSettings(dir.filePath("Sys.ini"), meters);
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start(simArgs(meters) + QStringList{"--faults", "all", "--fault-rate", "0.1", "--silence-ms",
                                                    "300", "--seed", seed}));
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    main->show();
    ModalResponder responder;

    const double before = MonotonicNowMs();
    main->btnStart->trigger();
    const double started = MonotonicNowMs();
    QVERIFY(main->ReadThread);

    // Run until every kind of fault has happened on the line while recording, and every meter has
    // delivered a fair number of samples.
    const QStringList kinds{"checksum", "terminator", "decimal6", "garbage", "silence", "upper"};
    const QList<int> ports = portsOf(meters);
    const auto kindCounts = [&] {
      QMap<QString, int> counts;
      for (const QString &k : kinds)
        counts[k] = 0;
      for (const SimEvent &e : sim.events())
        if (e.time >= before && ports.contains(e.port.mid(3).toInt()) && counts.contains(e.note))
          ++counts[e.note];
      return counts;
    };
    const auto enough = [&] {
      const QMap<QString, int> counts = kindCounts();
      for (int n : counts)
        if (n == 0)
          return false;
      for (int ch = 0; ch < meters.size(); ++ch)
        if (viewPoints(*main, ch) < (meters[ch].mode == MeterMode::Active ? 200 : 40))
          return false;
      return true;
    };
    const auto progress = [&] {
      QStringList parts;
      const QMap<QString, int> counts = kindCounts();
      for (auto it = counts.begin(); it != counts.end(); ++it)
        parts << QStringLiteral("%1=%2").arg(it.key()).arg(it.value());
      for (int ch = 0; ch < meters.size(); ++ch)
        parts << QStringLiteral("ch%1=%2").arg(ch).arg(viewPoints(*main, ch));
      return parts.join(QLatin1Char(' '));
    };
    QTRY_VERIFY2_WITH_TIMEOUT(enough(), qPrintable(progress()), kRecordWaitMs);

    const double stopAt = MonotonicNowMs();
    main->btnStop->trigger();
    QVERIFY(!main->ReadThread);
    sim.stop();
    QVERIFY2(responder.seen.empty(), qPrintable(responder.seen.empty() ? QString() : responder.seen[0].text));

    const TDataBlock block = TDataBlock::load(main->WorkFile());
    checkWholeFile(block, int(meters.size()));
    if (QTest::currentTestFailed())
      return;
    quint64 refused = 0;
    for (int i = 0; i < ports.size(); ++i)
      refused += main->acquisition()->engine().stats(i).totalRejects();
    QVERIFY2(refused > 0, "no bad frame reached the program");

    for (int ch = 0; ch < meters.size(); ++ch) {
      const Meter &m = meters[ch];
      const QString what = QStringLiteral("channel %1 (%2 address %3)").arg(ch).arg(portName(m.com)).arg(m.addr);
      const QList<double> recorded = channelValues(block, ch);
      const QList<SimEvent> sent = goodFrames(sim, m);
      QSet<double> bad;
      for (const SimEvent &e : sim.events("TX-FAULT", portName(m.com), addrText(m.addr)))
        bad.insert(e.value.toDouble());
      for (double v : recorded)
        QVERIFY2(!bad.contains(v), qPrintable(what + ": recorded a corrupted frame's value " + QString::number(v)));
      const qsizetype first = checkRecordedRun(recorded, sent, what);
      if (QTest::currentTestFailed())
        return;
      // Frames on their way at the stop may be missing; anything earlier must be there.
      const double settled = stopAt - 250;
      qsizetype lastDue = -1;
      qsizetype firstDue = -1;
      for (qsizetype i = 0; i < sent.size(); ++i) {
        if (sent[i].time > started && sent[i].time <= settled) {
          if (firstDue < 0)
            firstDue = i;
          lastDue = i;
        }
      }
      QVERIFY(lastDue >= 0);
      if (m.mode == MeterMode::Query)
        QCOMPARE(first, qsizetype(0)); // a query meter only answers our requests
      else
        QVERIFY2(first <= firstDue, qPrintable(what + ": frames sent after the start are missing"));
      QVERIFY2(first + recorded.size() > lastDue,
               qPrintable(QStringLiteral("%1: %2 recorded, frame %3 of %4 was sent well before the stop")
                              .arg(what)
                              .arg(recorded.size())
                              .arg(lastDue)
                              .arg(sent.size())));
    }
    checkChartsMatchFile(*main, block);
  }

  // A device that disappears mid-recording: the operator is told which port, the other port
  // records on, and the file keeps everything both channels received.
  void lostPortReportedOthersRecordOn_data() {
    QTest::addColumn<QString>("lostMeter");
    QTest::addColumn<int>("mode");
    QTest::newRow("query meter") << "query,addr=1,gen=counter:70000" << int(MeterMode::Query);
    QTest::newRow("active meter") << "active,addr=1,interval=10,gen=counter:70000" << int(MeterMode::Active);
  }
  void lostPortReportedOthersRecordOn() {
    QFETCH(QString, lostMeter);
    QFETCH(int, mode);
    const Meters meters{{1, 12, MeterMode::Active, "active,addr=12,interval=10,gen=counter"},
                        {2, 1, MeterMode(mode), lostMeter}};
    QTemporaryDir dir;
    writeSettings(dir.filePath("Sys.ini"), meters, "SampleInterval=20\r\n");
    // The windows first, so the device's lifetime is measured from about the start of recording.
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    main->show();
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start(simArgs(meters) + QStringList{"--close-port-after", "COM2:1200", "--seed", "3"}));
    ModalResponder responder;

    const double before = MonotonicNowMs();
    main->btnStart->trigger();
    QVERIFY(main->ReadThread);
    QTRY_VERIFY_WITH_TIMEOUT(!responder.seen.empty(), kRecordWaitMs);
    const QList<SimEvent> closed = sim.events("CLOSE", "COM2");
    QCOMPARE(closed.size(), 1);
    QCOMPARE(closed[0].note, QString("closed-by-option"));
    QVERIFY2(closed[0].time > before, "COM2 closed before the recording started");
    QCOMPARE(responder.seen[0].caption, QString("错误"));
    QCOMPARE(responder.seen[0].text, PortLostMessage(2));
    QVERIFY(responder.seen[0].text.contains("COM2"));
    QCOMPARE(responder.seen[0].icon, QMessageBox::Critical);

    // Still recording; the other port's samples keep arriving.
    QVERIFY(main->ReadThread);
    QVERIFY(main->btnStop->isEnabled());
    const int atReport = viewPoints(*main, 0);
    QTRY_VERIFY_WITH_TIMEOUT(viewPoints(*main, 0) >= atReport + 60, kRecordWaitMs);
    QVERIFY(!ctx.meters.Meters[1].MeterAlive.load());
    QTRY_VERIFY(ctx.meters.Meters[0].MeterAlive.load()); // a busy machine may cost it one time-out

    const double stopAt = MonotonicNowMs();
    main->btnStop->trigger();
    QVERIFY(!main->ReadThread);
    sim.stop();
    QCOMPARE(responder.seen.size(), size_t(1)); // told once

    const TDataBlock block = TDataBlock::load(main->WorkFile());
    checkWholeFile(block, 2);
    if (QTest::currentTestFailed())
      return;
    checkChartsMatchFile(*main, block);
    // A sample's time counts from the start, which lies after `before`: times beyond this mark
    // were certainly taken after the device had gone (a slow start only makes the mark stricter).
    const double closedAt = closed[0].time - before;
    const QList<double> times0 = channelTimes(block, 0);
    const auto afterClose = std::count_if(times0.begin(), times0.end(), [&](double t) { return t > closedAt; });
    QVERIFY2(afterClose >= 30, qPrintable(QStringLiteral("%1 samples after the close").arg(afterClose)));

    const QList<double> recorded0 = channelValues(block, 0);
    const QList<SimEvent> sent0 = goodFrames(sim, meters[0]);
    const qsizetype first0 = checkRecordedRun(recorded0, sent0, "COM1");
    if (QTest::currentTestFailed())
      return;
    qsizetype lastDue = -1;
    for (qsizetype i = 0; i < sent0.size(); ++i)
      if (sent0[i].time <= stopAt - 250)
        lastDue = i;
    QVERIFY(first0 + recorded0.size() > lastDue);

    const QList<double> recorded1 = channelValues(block, 1);
    const QList<SimEvent> sent1 = goodFrames(sim, meters[1]);
    QVERIFY2(recorded1.size() >= 5, qPrintable(QString::number(recorded1.size())));
    checkRecordedRun(recorded1, sent1, "COM2");
    if (QTest::currentTestFailed())
      return;
    // Up to the loss nothing of the lost port is missing either.
    qsizetype lastBeforeLoss = -1;
    for (qsizetype i = 0; i < sent1.size(); ++i)
      if (sent1[i].time <= closed[0].time - 250)
        lastBeforeLoss = i;
    QVERIFY(valuesOf(sent1).indexOf(recorded1.first()) + recorded1.size() > lastBeforeLoss);
  }

  // The data folder fills up mid-recording: the operator is told, the recording stops, and the
  // file holds every sample that fitted, as whole records, exactly as the meters sent them.
  void fullDataFolderStopsRecording_data() {
    QTest::addColumn<int>("saveMode");
    QTest::addColumn<int>("spare"); // bytes allowed beyond the last whole record
    QTest::newRow("temporary file, limit inside a record") << 0 << 7;
    QTest::newRow("automatic file, limit on a record boundary") << 1 << 0;
  }
  void fullDataFolderStopsRecording() {
    QFETCH(int, saveMode);
    QFETCH(int, spare);
    const Meters meters{{1, 12, MeterMode::Active, "active,addr=12,interval=10,gen=counter"},
                        {2, 1, MeterMode::Query, "query,addr=1,gen=counter:80000"}};
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("runs")));
    writeSettings(dir.filePath("Sys.ini"), meters,
                  "SaveMode=" + QByteArray::number(saveMode) + "\r\nSavePath=" + dir.filePath("runs").toUtf8() +
                      "\r\nSampleInterval=5\r\n");
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start(simArgs(meters)));
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    main->show();
    ModalResponder responder;

    constexpr qint64 kFits = 300; // samples that fit
    const qint64 limit = headBytes(2) + kFits * DataFileFormat::kSampleSize + spare;
    {
      FileSizeLimit full{rlim_t(limit)}; // after the simulator has started
      QVERIFY(full.ok());
      main->btnStart->trigger();
      QVERIFY(main->WorkFile().startsWith(saveMode == 1 ? dir.filePath("runs/") : dir.filePath("ZERVO")));
      QTRY_VERIFY_WITH_TIMEOUT(!main->ReadThread, kRecordWaitMs);
    }
    QTRY_VERIFY(!responder.seen.empty());
    QCOMPARE(responder.seen.size(), size_t(1));
    QCOMPARE(responder.seen[0].caption, QString("错误"));
    QVERIFY2(responder.seen[0].text.startsWith("数据文件写入失败"), qPrintable(responder.seen[0].text));
    QVERIFY(responder.seen[0].text.contains(main->WorkFile()));
    QVERIFY(!main->acquisition()->engine().running());
    QVERIFY(main->btnStart->isEnabled());
    QVERIFY(!main->btnStop->isEnabled());
    sim.stop();

    const TDataBlock block = TDataBlock::load(main->WorkFile());
    checkWholeFile(block, 2);
    if (QTest::currentTestFailed())
      return;
    // Every record that fitted was written: the disk was filled, not abandoned early.
    QCOMPARE(qint64(block.samples.size()), kFits);
    checkChartsMatchFile(*main, block);
    const QList<double> recorded0 = channelValues(block, 0);
    const QList<double> recorded1 = channelValues(block, 1);
    QVERIFY2(recorded0.size() >= 5 && recorded1.size() >= 5,
             qPrintable(QStringLiteral("%1 and %2 samples").arg(recorded0.size()).arg(recorded1.size())));
    checkRecordedRun(recorded0, goodFrames(sim, meters[0]), "active meter");
    QCOMPARE(checkRecordedRun(recorded1, goodFrames(sim, meters[1]), "query meter"), qsizetype(0));
  }

  // A damaged Sys.ini never stops the program: it starts with defaults (or sane bounds) for
  // whatever it cannot read, builds its windows, and asks nothing.
  void damagedSettingsStartWithDefaults_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("sampleIntervalMs");
    QTest::addColumn<int>("meterAmount");

    QByteArray garbage(64 * 1024, '\0');
    QRandomGenerator rng(20240611);
    for (char &c : garbage)
      c = char(rng.bounded(256));
    QTest::newRow("binary garbage") << garbage << qint64(1000) << 0;
    QTest::newRow("NUL bytes") << bytes("\0[System Options]\0\r\nSampleInterval\0=3\r\n\0\0\0\r\n"
                                        "[Meter Configure]\r\nMeterAmount=\0" "2\r\n")
                               << qint64(1000) << 0;
    QTest::newRow("invalid GBK")
        << QByteArray("[System Options]\r\nFileNameHead=\x81\x20\xff\xfe\x80\r\nAppName=\xfe\xfe\xfe\r\n"
                      "SampleInterval=3\r\nSampleIntervalUnit=0\r\n[\xff\x81]\r\nMeterAmount=4\r\n")
        << qint64(3) << 0;
    QTest::newRow("10 MB line") << "[System Options]\r\n" + QByteArray(10 * 1024 * 1024, 'x') +
                                       "\r\nSampleInterval=7\r\nSampleIntervalUnit=0\r\n[Meter Configure]\r\n"
                                       "MeterAmount=2\r\n"
                                << qint64(7) << 2;
    QTest::newRow("sections without ]") << QByteArray("[System Options\r\nSampleInterval=9\r\nSampleIntervalUnit=0\r\n"
                                                      "[Meter Configure\r\nMeterAmount=3\r\n")
                                        << qint64(1000) << 0;
    QTest::newRow("duplicate keys and sections")
        << QByteArray("[System Options]\r\nSampleInterval=4\r\nSampleInterval=8\r\nSampleIntervalUnit=0\r\n"
                      "[Meter Configure]\r\nMeterAmount=1\r\n[System Options]\r\nSampleInterval=16\r\n"
                      "[Meter Configure]\r\nMeterAmount=5\r\nMeterAmount=6\r\n")
        << qint64(4) << 1;
    QTest::newRow("negative interval") << QByteArray("[System Options]\r\nSampleInterval=-5\r\n") << qint64(0) << 0;
    QTest::newRow("interval 1e300") << QByteArray("[System Options]\r\nSampleInterval=1e300\r\n") << qint64(1000) << 0;
    QTest::newRow("interval of 20 digits")
        << QByteArray("[System Options]\r\nSampleInterval=99999999999999999999\r\n") << qint64(1000) << 0;
    QTest::newRow("interval beyond 31 bits")
        << QByteArray("[System Options]\r\nSampleInterval=4000000000\r\nSampleIntervalUnit=0\r\n") << qint64(1) << 0;
    QTest::newRow("absurd table and axis")
        << QByteArray("[System Options]\r\nTimeWindow=-3\r\nKeepTime=-8\r\nDiplayBackPer=500\r\n"
                      "SYS_MAX_METER_NO=2000000000\r\nPrecision=-1\r\n"
                      "[Meter Configure]\r\nMeterAmount=1000\r\nMeterComCount=1000\r\n")
        << qint64(1000) << 10;
  }
  void damagedSettingsStartWithDefaults() {
    QFETCH(QByteArray, content);
    QFETCH(qint64, sampleIntervalMs);
    QFETCH(int, meterAmount);
    QTemporaryDir dir;
    const QString ini = dir.filePath("Sys.ini");
    {
      QFile f(ini);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QCOMPARE(f.write(content), qint64(content.size()));
    }
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    ModalResponder responder;
    auto main = CreateWindows(ctx, {});
    main->show();
    QCoreApplication::processEvents();
    checkStartedSanely(*main, ctx, sampleIntervalMs, meterAmount, responder);
  }

  // A Sys.ini the program may not write: it starts with what it can read, nothing complains, and
  // the file is left as it was although the first start wanted to write to it.
  void readOnlySettingsStart() {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Sys.ini");
    const QByteArray content = "[System Options]\r\nSampleInterval=250\r\nSampleIntervalUnit=0\r\n"
                               "[Meter Configure]\r\nMeterAmount=2\r\n";
    {
      QFile f(ini);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QCOMPARE(f.write(content), qint64(content.size()));
    }
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    ctx.settings = std::make_unique<ProfileStore>(ini);
    const auto readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    QVERIFY(QFile::setPermissions(ini, readable));
    QVERIFY(QFile::setPermissions(dir.path(), readable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
    {
      ModalResponder responder;
      UnprivilegedFiles asOperator;
      auto main = CreateWindows(ctx, {});
      main->show();
      QCoreApplication::processEvents();
      checkStartedSanely(*main, ctx, 250, 2, responder);
    }
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QCOMPARE(readAll(ini), content); // FirstRun could not be written
  }

private:
  static void checkStartedSanely(TfrmMain &main, AppContext &ctx, qint64 sampleIntervalMs, int meterAmount,
                                 ModalResponder &responder) {
    QVERIFY2(responder.seen.empty(), qPrintable(responder.seen.empty() ? QString() : responder.seen[0].text));
    QVERIFY(main.isVisible());
    QVERIFY(main.dialogs().frmSetup && main.dialogs().frmEditChannel && main.dialogs().AboutBox &&
            main.dialogs().frmEditXYChannel && main.dialogs().frmEditChannelAll &&
            main.dialogs().frmConfigureShowUnit);
    const Options &o = ctx.options;
    QCOMPARE(o.SampleIntervalMs, sampleIntervalMs);
    QVERIFY(o.SampleInterval >= TfrmSetup::kSampleIntervalMin && o.SampleInterval <= TfrmSetup::kSampleIntervalMax);
    QVERIFY(o.KeepTimeMs >= 0);
    QVERIFY(o.TimeWindowCount >= 1);
    QVERIFY(o.DiplayBackPer >= 0 && o.DiplayBackPer <= 100);
    QVERIFY(o.SysMaxMeterNo >= 1 && o.SysMaxMeterNo <= 100);
    QCOMPARE(ctx.meters.MeterAmount, meterAmount);
    QVERIFY(ctx.meters.MeterComCount >= 0 && ctx.meters.MeterComCount <= kPortEntries);
    QCOMPARE(main.board()->viewCount(), meterAmount);

    // A start without a usable meter table is refused with at most one message (the message boxes
    // are modal: each has been answered when the trigger returns).
    main.btnStart->trigger();
    QCoreApplication::processEvents();
    QVERIFY(!main.ReadThread);
    QVERIFY(main.btnStart->isEnabled());
    QVERIFY(responder.seen.size() <= 1);
    if (meterAmount == 0) {
      QCOMPARE(responder.seen.size(), size_t(1));
      QCOMPARE(responder.seen[0].text, QString("没有有效仪表！"));
    }
    for (const ModalResponder::Seen &box : responder.seen)
      QCOMPARE(box.caption, QString("错误"));
  }
};

QTEST_MAIN(TestFaults)
#include "tst_faults_e2e.moc"
