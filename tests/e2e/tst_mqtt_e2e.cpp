#include "MeterSim.h"
#include "common/MqttBroker.h"

#include "acquisition/AcquisitionControl.h"
#include "acquisition/AlarmLog.h"
#include "app/AppContext.h"
#include "app/Startup.h"
#include "app/TfrmMain.h"
#include "publish/MqttPublisher.h"
#include "views/PlotChart.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QAction>
#include <QLabel>
#include <QTemporaryDir>

#include <QtTest>

using namespace std::chrono_literals;

namespace {
const QByteArray kPrefix = "bench7";

// An active meter (address 12, COM1, two decimal places) and a query meter (address 1, COM2,
// one place), publishing to the broker on port.
void writeProgramFolder(const QString &ini, quint16 port) {
  const QByteArray s =
      "[System Options]\r\nFirstRun=0\r\nSampleInterval=20\r\nSampleIntervalUnit=0\r\n"
      "[MQTT]\r\nEnabled=1\r\nHost=127.0.0.1\r\nPort=" + QByteArray::number(port) +
      "\r\nTopicPrefix=" + kPrefix + "\r\nQoS=1\r\n"
      "[Meter Configure]\r\nMeterAmount=2\r\nMeterComCount=2\r\n"
      "MeterComPort1=1\r\nMeterComPortState1=0\r\nMeterComPort2=2\r\nMeterComPortState2=1\r\n"
      "[Meter Configure1]\r\nMeterNo=12\r\nMeterCom=1\r\nMeterState=0\r\nMeterValid=1\r\nMeterPrecision=2\r\n"
      "[Meter Configure2]\r\nMeterNo=1\r\nMeterCom=2\r\nMeterState=1\r\nMeterValid=1\r\nMeterPrecision=1\r\n";
  QFile f(ini);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(s);
}
} // namespace

class TestMqttDesktop : public QObject {
  Q_OBJECT

private slots:
  // A recording started and stopped from the main window publishes every sample of its file,
  // with the exact payload and in file order per channel, straight from the read thread: the
  // counts go up while the window's thread handles no events at all. The status goes
  // "recording", then "idle", and the status bar shows the broker's state and the counts.
  void everyRecordedSampleIsPublished() {
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttSubscriber sub(broker.port(), kPrefix + "/#", "zervo-desktop-subscriber");
    QTRY_VERIFY_WITH_TIMEOUT(sub.subscribed(), 10000);
    QTemporaryDir dir;
    writeProgramFolder(dir.filePath("Sys.ini"), broker.port());
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start({"--port", "COM1", "--meter", "active,addr=12,interval=10,gen=counter,decimals=2",
                       "--port", "COM2", "--meter", "query,addr=1,delay=5,gen=counter,decimals=1"}));
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    auto *label = main->findChild<QLabel *>("lblPublishing");
    QVERIFY(label);
    main->btnStart->trigger();
    QVERIFY(main->ReadThread);
    MqttPublisher *pub = main->acquisition()->publisher();
    QVERIFY(pub);
    QTRY_COMPARE_WITH_TIMEOUT(pub->state(), MqttPublisher::State::Connected, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(label->text().startsWith("MQTT 已连接 已发布 "), 5000);
    QVERIFY(!label->isHidden());

    // The window's thread busy (no events handled): readings still reach the broker.
    const qint64 before = pub->published();
    QDeadlineTimer busy(10000);
    while (pub->published() < before + 100 && !busy.hasExpired())
      QThread::msleep(5);
    QVERIFY2(pub->published() >= before + 100, "publishing waited for the window's thread");

    QTRY_VERIFY_WITH_TIMEOUT(main->board()->view(1)->pltChannel->pointCount(0) >= 5, 15000);
    main->btnStop->trigger();
    QVERIFY(!main->ReadThread);
    sim.stop();
    QVERIFY(pub->waitUntilDrained(30s));

    const std::vector<TSampleRecord> file = FileSamples(main->WorkFile(), 2);
    QVERIFY(file.size() > 100);
    QCOMPARE(pub->published(), qint64(file.size()));
    QCOMPARE(pub->pending(), qint64(0));
    const qint64 startMs = ctx.ring.startTime().toMSecsSinceEpoch();
    QTRY_VERIFY_WITH_TIMEOUT(Statuses(sub.messages(), kPrefix).size() >= 2, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(sub.count() >= qsizetype(file.size()) + 2, 20000);
    const QString problem = ArrivalProblem(
        sub.messages(), kPrefix, file,
        [startMs](const TSampleRecord &r) {
          return r.Channel == 0 ? ExpectedPayload(1, 12, 1, r.Value, 2, r.Time, startMs)
                                : ExpectedPayload(2, 1, 2, r.Value, 1, r.Time, startMs);
        },
        false);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(Statuses(sub.messages(), kPrefix), QList<QByteArray>({"recording", "idle"}));
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QString("MQTT 已连接 已发布 %1 待发布 0").arg(file.size()), 5000);
  }

  // A sine wave crossing both limits, recorded from the main window: every line of the event
  // log beside the data file goes out on its channel's alarm topic, in the log's order, with
  // the line's own texts, not retained, and nothing else does.
  void alarmsOfTheLogArePublished() {
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttSubscriber sub(broker.port(), kPrefix + "/#", "zervo-alarm-desktop-subscriber");
    QTRY_VERIFY_WITH_TIMEOUT(sub.subscribed(), 10000);
    QTemporaryDir dir;
    {
      QFile f(dir.filePath("Sys.ini"));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("[System Options]\r\nFirstRun=0\r\n"
              "[MQTT]\r\nEnabled=1\r\nHost=127.0.0.1\r\nPort=" + QByteArray::number(broker.port()) +
              "\r\nTopicPrefix=" + kPrefix + "\r\nQoS=1\r\n"
              "[Meter Configure]\r\nMeterAmount=1\r\nMeterComCount=1\r\n"
              "MeterComPort1=1\r\nMeterComPortState1=0\r\n"
              "[Meter Configure1]\r\nMeterNo=12\r\nMeterCom=1\r\nMeterState=0\r\nMeterValid=1\r\nMeterPrecision=2\r\n"
              "[Channel1]\r\nAlarmEnabled=1\r\nAlarmHigh=6.5\r\nAlarmLow=-6.25\r\nAlarmHysteresis=0.75\r\n");
    }
    MeterSim sim(dir.filePath("Sys.ini"), dir.filePath("sim.log"));
    QVERIFY(sim.start({"--port", "COM1", "--meter", "active,addr=12,interval=10,gen=sine:10:300,decimals=2"}));
    AppContext ctx(ProgramPaths::resolve(dir.path()));
    auto main = CreateWindows(ctx, {});
    main->btnStart->trigger();
    QVERIFY(main->ReadThread);
    MqttPublisher *pub = main->acquisition()->publisher();
    QVERIFY(pub);
    QTRY_VERIFY_WITH_TIMEOUT(pub->alarmsPublished() >= 8, 20000);
    main->btnStop->trigger();
    sim.stop();
    QVERIFY(pub->waitUntilDrained(30s));

    const QList<QByteArray> lines = AlarmLogLines(AlarmLog::PathFor(main->WorkFile()));
    QCOMPARE(pub->alarmsPublished(), qint64(lines.size()));
    QCOMPARE(pub->alarmsPending(), qint64(0));
    QVERIFY(lines.size() >= 8);
    QList<QByteArray> want;
    bool high = false, low = false;
    for (const QByteArray &line : lines) {
      want.append(kPrefix + "/alarm/1 " + AlarmPayloadFromLogLine(line));
      high = high || line.endsWith(",high");
      low = low || line.endsWith(",low");
    }
    QVERIFY(high && low);
    QTRY_COMPARE_WITH_TIMEOUT(lastStatusOf(sub.messages()), QByteArray("idle"), 10000);
    QCOMPARE(AlarmMessages(sub.messages(), kPrefix), want);
  }

private:
  static QByteArray lastStatusOf(const std::vector<MqttMessage> &messages) {
    const QList<QByteArray> s = Statuses(messages, kPrefix);
    return s.isEmpty() ? QByteArray() : s.last();
  }
};

QTEST_MAIN(TestMqttDesktop)
#include "tst_mqtt_e2e.moc"
