#include "MeterSim.h"
#include "TwoMeterTable.h"
#include "common/MqttBroker.h"

#include "acquisition/DataBlock.h"
#include "app/AppContext.h"
#include "app/ProfileStore.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "comm/SerialLink.h"

#include <QAction>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <QtTest>

namespace {
// The simulated meters of every run here: an active meter (address 12, COM1) sending every
// 10 ms and a query meter (address 1, COM2), both counting from 0.
const QStringList kMeters{"--port", "COM1", "--meter", "active,addr=12,interval=10,gen=counter",
                          "--port", "COM2", "--meter", "query,addr=1,delay=5,gen=counter"};

// A program folder with those two meters, configured channel sections and a folder "runs".
void writeProgramFolder(const QDir &dir, const QByteArray &extra) {
  QVERIFY(dir.mkpath("runs"));
  writeMeterTable(dir.filePath("Sys.ini"),
                  "FileNameHead=Run\r\nSavePath=" + dir.filePath("runs").toUtf8() + "\r\n" + extra +
                      "[Channel1]\r\nTitle=\xCE\xC2\xB6\xC8\r\nMeasureUnit=kg\r\nRangeMin=-5\r\nRangeMax=5\r\n"
                      "Scale=2\r\nOffset=0.5\r\nPhysicalChannel=7\r\n"
                      "[Channel2]\r\nTitle=Pressure\r\nMeasureUnit=bar\r\nRangeMax=10\r\n");
}

struct Recorded {
  QByteArray headAndChannels;
  QList<double> active, query;
  qint64 samples = 0;
};

// What a recording file holds, checked against what its simulator sent: the active meter's values
// are a gapless slice of its frames, the query meter's the first replies, in order; times never
// go back.
Recorded checkRecording(const QString &path, const MeterSim &sim) {
  Recorded r;
  const TDataBlock block = TDataBlock::load(path);
  [&] {
    QCOMPARE(int(block.status), 0);
    QCOMPARE(block.channelCount, 2);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const qint64 head = 30 + 82 * 2;
    QCOMPARE((f.size() - head) % 20, qint64(0)); // closed on a whole record
    r.headAndChannels = f.read(head);
    double lastTime = 0;
    for (const TSampleRecord &s : block.samples) {
      const qint32 ch = s.Channel;
      const double t = s.Time;
      QVERIFY(ch == 0 || ch == 1);
      QVERIFY(t >= lastTime);
      lastTime = t;
      (ch == 0 ? r.active : r.query) << double(s.Value);
    }
    r.samples = block.samples.size();
    QVERIFY(r.active.size() > 20);
    QVERIFY(r.query.size() > 3);
    const QList<double> sent = values(sim.events("TX-ACTIVE", "COM1"));
    const qsizetype first = sent.indexOf(r.active.first());
    QVERIFY(first >= 0);
    QCOMPARE(sent.mid(first, r.active.size()), r.active);
    QCOMPARE(values(sim.events("TX-REPLY", "COM2")).mid(0, r.query.size()), r.query);
  }();
  return r;
}

QString zvrecPath() { return QStringLiteral(ZVREC_PATH); }
} // namespace

class TestZvrec : public QObject {
  Q_OBJECT
  QTemporaryDir m_home;

private slots:
  void initTestCase() { qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8()); }

  // A timed run of zvrec writes what a timed recording of the desktop program writes from the
  // same meters: the same head and channel records byte for byte, and per channel the meters'
  // values in order.
  void matchesDesktopRecording() {
    // The desktop program, timed and saved automatically.
    QTemporaryDir desk;
    writeProgramFolder(QDir(desk.path()), "SampleMode=1\r\nKeepTime=1500\r\nKeepTimeUnit=0\r\nSaveMode=1\r\n");
    Recorded fromDesktop;
    {
      MeterSim sim(desk.filePath("Sys.ini"), desk.filePath("sim.log"));
      QVERIFY(sim.start(kMeters));
      AppContext ctx(ProgramPaths::resolve(desk.path()));
      auto main = CreateWindows(ctx, {});
      main->btnStart->trigger();
      QVERIFY(main->ReadThread);
      const QString file = main->WorkFile();
      QTRY_VERIFY_WITH_TIMEOUT(!main->ReadThread, 15000);
      sim.stop();
      fromDesktop = checkRecording(file, sim);
    }
    QVERIFY(!QTest::currentTestFailed());

    // zvrec, from a folder configured the same (its own Sys.ini has no timed end).
    QTemporaryDir rec;
    writeProgramFolder(QDir(rec.path()), "");
    MeterSim sim(rec.filePath("Sys.ini"), rec.filePath("sim.log"));
    QVERIFY(sim.start(kMeters));
    QProcess zvrec;
    zvrec.start(zvrecPath(), {"--dir", rec.path(), "--duration", "1.5"});
    QVERIFY(zvrec.waitForFinished(15000));
    const QString err = QString::fromUtf8(zvrec.readAllStandardError());
    QCOMPARE(zvrec.exitStatus(), QProcess::NormalExit);
    QVERIFY2(zvrec.exitCode() == 0, qPrintable(err));
    sim.stop();
    // Named as the automatic save mode names it, in SavePath.
    const QStringList files = QDir(rec.filePath("runs")).entryList({"*.zvdat"}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY2(QRegularExpression("^Run\\d\\d-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d\\.zvdat$").match(files[0]).hasMatch(),
             qPrintable(files[0]));
    const Recorded fromZvrec = checkRecording(rec.filePath("runs/" + files[0]), sim);
    QVERIFY(!QTest::currentTestFailed());
    QVERIFY(err.contains(QString("%1 samples in").arg(fromZvrec.samples)));

    QCOMPARE(fromZvrec.headAndChannels, fromDesktop.headAndChannels);
    // The query meter counts from 0 in both runs; the replies are the same numbers in order.
    const qsizetype n = std::min(fromZvrec.query.size(), fromDesktop.query.size());
    QCOMPARE(fromZvrec.query.mid(0, n), fromDesktop.query.mid(0, n));
    // The active meter's values step by one in both files (no sample lost or doubled).
    for (const QList<double> *v : std::initializer_list<const QList<double> *>{&fromZvrec.active, &fromDesktop.active})
      for (qsizetype i = 1; i < v->size(); ++i)
        QCOMPARE(v->at(i), v->at(i - 1) + 1);
  }

  // SIGTERM or SIGINT: polling ends, the ring is drained into the file, the file is closed on a
  // whole record and the status is 0. Progress was reported once a second until then.
  void signalStopsCleanly_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
  }
  void signalStopsCleanly() {
    QFETCH(int, signal);
    QTemporaryDir dir;
    writeProgramFolder(QDir(dir.path()), "");
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start(kMeters));
    const QString out = dir.filePath("out.zvdat");
    QProcess zvrec;
    zvrec.start(zvrecPath(), {"--dir", dir.path(), "--output", out});
    QVERIFY(zvrec.waitForStarted());
    QString err;
    const QRegularExpression progress(
        "\\d+:\\d\\d:\\d\\d\\.\\d elapsed, (\\d+) samples; COM1 good (\\d+) rejected 0 timeouts \\d+; "
        "COM2 good (\\d+) rejected 0 timeouts 0\n");
    QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromUtf8(zvrec.readAllStandardError()),
                              progress.globalMatch(err).hasNext() && progress.match(err).captured(1).toInt() > 20),
                             15000);
    QCOMPARE(::kill(pid_t(zvrec.processId()), signal), 0);
    QVERIFY(zvrec.waitForFinished(15000));
    err += QString::fromUtf8(zvrec.readAllStandardError());
    QCOMPARE(zvrec.exitStatus(), QProcess::NormalExit);
    QVERIFY2(zvrec.exitCode() == 0, qPrintable(err));
    sim.stop();

    const Recorded r = checkRecording(out, sim);
    QVERIFY(!QTest::currentTestFailed());
    // Every sample counted by the read thread is in the file.
    QVERIFY2(err.contains(QString("samples in %1\n").arg(out)), qPrintable(err));
    QVERIFY2(err.contains(QString(", %1 samples in").arg(r.samples)), qPrintable(err));
    // The last replies are there: at most the one in flight at the stop is missing.
    QVERIFY(values(sim.events("TX-REPLY", "COM2")).size() - r.query.size() <= 1);
  }

  // With publishing on, every sample of the file reaches the broker with its exact payload, in
  // file order per channel, and every line of the event log on its alarm topic; SIGTERM still
  // stops cleanly, after everything is out: the status goes "recording", "idle", then
  // "offline" as the recorder ends. The progress line shows the counts and the broker's state.
  void publishesEverySampleAndStopsCleanly() {
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttSubscriber sub(broker.port(), "rec9/#", "zervo-zvrec-subscriber");
    QTRY_VERIFY_WITH_TIMEOUT(sub.subscribed(), 10000);
    QTemporaryDir dir;
    writeProgramFolder(QDir(dir.path()), "");
    {
      QFile f(dir.filePath("Sys.ini"));
      QVERIFY(f.open(QIODevice::Append));
      f.write("[MQTT]\r\nEnabled=1\r\nHost=127.0.0.1\r\nPort=" + QByteArray::number(broker.port()) +
              "\r\nTopicPrefix=rec9\r\n");
    }
    {
      // The second meter's counter passes 3 early on.
      ProfileStore ini(dir.filePath("Sys.ini"));
      QVERIFY(ini.writeBool("Channel2", "AlarmEnabled", true) && ini.writeString("Channel2", "AlarmHigh", "3"));
    }
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start(kMeters));
    const QString out = dir.filePath("out.zvdat");
    const qint64 launchedMs = QDateTime::currentMSecsSinceEpoch();
    QProcess zvrec;
    zvrec.start(zvrecPath(), {"--dir", dir.path(), "--output", out});
    QVERIFY(zvrec.waitForStarted());
    QString err;
    const QRegularExpression progress("; published (\\d+), pending \\d+, broker 已连接\n");
    QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromUtf8(zvrec.readAllStandardError()),
                              progress.match(err).hasMatch() && progress.match(err).captured(1).toInt() > 20),
                             15000);
    QTRY_VERIFY_WITH_TIMEOUT(!AlarmLogLines(out + ".alarms.csv").isEmpty(), 15000);
    QCOMPARE(::kill(pid_t(zvrec.processId()), SIGTERM), 0);
    QVERIFY(zvrec.waitForFinished(30000));
    err += QString::fromUtf8(zvrec.readAllStandardError());
    QCOMPARE(zvrec.exitStatus(), QProcess::NormalExit);
    QVERIFY2(zvrec.exitCode() == 0, qPrintable(err));
    sim.stop();

    const std::vector<TSampleRecord> file = FileSamples(out, 2);
    QVERIFY(file.size() > 20);
    QVERIFY2(err.contains(QString("zvrec: published %1 readings\n").arg(file.size())), qPrintable(err));
    QTRY_VERIFY_WITH_TIMEOUT(Statuses(sub.messages(), "rec9").size() >= 3, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(sub.count() >= qsizetype(file.size()) + 3, 20000);
    const std::vector<MqttMessage> messages = sub.messages();
    // The recording's start, from the first reading: every other one must agree with it.
    qint64 startMs = -1;
    for (const MqttMessage &m : messages)
      if (m.topic.startsWith("rec9/channel/")) {
        const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
        startMs = QDateTime::fromString(o["time"].toString(), Qt::ISODateWithMs).toMSecsSinceEpoch() -
                  qint64(o["ms"].toDouble());
        break;
      }
    QVERIFY(startMs >= launchedMs && startMs <= QDateTime::currentMSecsSinceEpoch());
    const QString problem = ArrivalProblem(
        messages, "rec9", file,
        [startMs](const TSampleRecord &r) {
          return r.Channel == 0 ? ExpectedPayload(1, 12, 1, r.Value, 0, r.Time, startMs)
                                : ExpectedPayload(2, 1, 2, r.Value, 0, r.Time, startMs);
        },
        false);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QList<QByteArray> alarms;
    for (const QByteArray &line : AlarmLogLines(out + ".alarms.csv"))
      alarms.append("rec9/alarm/2 " + AlarmPayloadFromLogLine(line));
    QVERIFY(alarms.first().contains(R"(,"channel":2,"title":"Pressure","value":)"));
    QVERIFY(alarms.first().endsWith(R"(,"limit":3,"event":"high"})"));
    QCOMPARE(AlarmMessages(messages, "rec9"), alarms);
    QCOMPARE(Statuses(messages, "rec9"), QList<QByteArray>({"recording", "idle", "offline"}));
  }

  // What the desktop program says in a message box, zvrec prints, and it ends non-zero.
  void failures_data() {
    QTest::addColumn<QByteArray>("ini"); // empty: the two simulated meters
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("status");
    QTest::newRow("no valid meter") << QByteArray("[System Options]\r\nFirstRun=0\r\n") << QStringList{}
                                    << "zvrec: 没有有效仪表！\n" << 1;
    QTest::newRow("port cannot be opened")
        << QByteArray("[Meter Configure]\r\nMeterAmount=1\r\nMeterComCount=1\r\nMeterComPort1=37\r\n"
                      "[Meter Configure1]\r\nMeterNo=1\r\nMeterCom=37\r\nMeterState=1\r\nMeterValid=1\r\n"
                      "[Serial Ports]\r\nCOM37=/dev/zvrec-no-such-tty\r\n")
        << QStringList{} << "zvrec: COM37不存在,或被其他程序占用！\n" << 1;
    QTest::newRow("save folder missing") << QByteArray() << QStringList{}
                                         << "zvrec: 默认保存路径不存在，请重新选择！\n" << 1;
    QTest::newRow("data file cannot be created")
        << QByteArray() << QStringList{"--output", "/proc/zvrec-test.zvdat"}
        << "zvrec: 数据文件无法创建：/proc/zvrec-test.zvdat\n" << 3;
    QTest::newRow("bad duration") << QByteArray() << QStringList{"--duration", "0"}
                                  << "zvrec: --duration needs a number of seconds" << 2;
  }
  void failures() {
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QFETCH(int, status);
    QTemporaryDir dir;
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    if (ini.isEmpty()) {
      writeProgramFolder(QDir(dir.path()), "");
      QVERIFY(sim.start(kMeters));
      if (QTest::currentDataTag() == QByteArray("save folder missing"))
        QVERIFY(QDir(dir.filePath("runs")).removeRecursively());
    } else {
      QFile f(dir.filePath("Sys.ini"));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(ini);
    }
    QProcess zvrec;
    zvrec.start(zvrecPath(), QStringList{"--dir", dir.path()} + args);
    QVERIFY(zvrec.waitForFinished(15000));
    const QString err = QString::fromUtf8(zvrec.readAllStandardError());
    QCOMPARE(zvrec.exitStatus(), QProcess::NormalExit);
    QVERIFY2(err.contains(message), qPrintable(err));
    QCOMPARE(zvrec.exitCode(), status);
  }

  // A file that cannot grow (a file size limit) ends the recording as on the desktop: the read
  // thread's message, a file of whole records, and status 3.
  void dataFileCannotBeWritten() {
    QTemporaryDir dir;
    writeProgramFolder(QDir(dir.path()), "");
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start(kMeters));
    const QString out = dir.filePath("out.zvdat");
    constexpr rlim_t kLimit = 30 + 2 * 82 + 40 * 20 + 7; // head, records, 40 samples and a part
    QProcess zvrec;
    zvrec.setChildProcessModifier([] {
      const rlimit limit{kLimit, kLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    zvrec.start(zvrecPath(), {"--dir", dir.path(), "--output", out});
    QVERIFY(zvrec.waitForFinished(15000));
    const QString err = QString::fromUtf8(zvrec.readAllStandardError());
    QCOMPARE(zvrec.exitStatus(), QProcess::NormalExit);
    QVERIFY2(err.contains("zvrec: 数据文件写入失败，采集已停止：" + out + "\n"), qPrintable(err));
    QCOMPARE(zvrec.exitCode(), 3);
    const TDataBlock block = TDataBlock::load(out);
    QCOMPARE(int(block.status), 0);
    QCOMPARE(QFileInfo(out).size(), qint64(30 + 2 * 82 + 40 * 20));
  }

  // A port lost while recording is reported as the desktop reports it; the other port records
  // on until the end, and the status says that the recording is incomplete.
  void lostPortReportedOthersGoOn() {
    QTemporaryDir dir;
    writeProgramFolder(QDir(dir.path()), "");
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start(kMeters + QStringList{"--close-port-after", "COM2:800"}));
    const QString out = dir.filePath("out.zvdat");
    QProcess zvrec;
    zvrec.start(zvrecPath(), {"--dir", dir.path(), "--output", out, "--duration", "2.5"});
    QVERIFY(zvrec.waitForFinished(15000));
    const QString err = QString::fromUtf8(zvrec.readAllStandardError());
    QCOMPARE(zvrec.exitStatus(), QProcess::NormalExit);
    QVERIFY2(err.contains("zvrec: " + PortLostMessage(2) + "\n"), qPrintable(err));
    QCOMPARE(zvrec.exitCode(), 4);
    sim.stop();
    const TDataBlock block = TDataBlock::load(out);
    QCOMPARE(int(block.status), 0);
    double lastActive = 0, lastQuery = 0;
    for (const TSampleRecord &s : block.samples)
      (s.Channel == 0 ? lastActive : lastQuery) = s.Time;
    QVERIFY(lastQuery < 1500);
    QVERIFY(lastActive > 2000);
  }

  void helpPrintsUsage() {
    QProcess zvrec;
    zvrec.start(zvrecPath(), {"--help"});
    QVERIFY(zvrec.waitForFinished(15000));
    QCOMPARE(zvrec.exitCode(), 0);
    QVERIFY(zvrec.readAllStandardOutput().startsWith(
        "usage: zvrec [--dir PROGRAM_FOLDER] [--duration SECONDS] [--output FILE.zvdat] [--quiet]\n"));
  }
};

QTEST_MAIN(TestZvrec)
#include "tst_zvrec_e2e.moc"
