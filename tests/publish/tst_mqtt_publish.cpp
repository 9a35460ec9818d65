#include "common/MqttBroker.h"

#include "acquisition/AlarmLog.h"
#include "acquisition/AutoResetEvent.h"
#include "acquisition/SampleRing.h"
#include "acquisition/TReadThread.h"
#include "app/ProfileStore.h"
#include "publish/MqttPublisher.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <atomic>
#include <map>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int kChannels = 3;
const QByteArray kPrefix = "lab7";

QList<PublishChannel> testChannels() { return {{1, 1, 3}, {2, 2, 3}, {3, 7, 4}}; }

QByteArray expectedPayload(const TSampleRecord &r, qint64 startMs) {
  const PublishChannel c = testChannels()[r.Channel];
  return ExpectedPayload(c.number, c.address, c.port, r.Value, 2, r.Time, startMs);
}

std::vector<TSampleRecord> fileSamples(const QString &path) { return FileSamples(path, kChannels); }

// A recording through the real ring and read thread, its batches fed to the publisher.
struct Recording {
  QTemporaryDir dir;
  SampleRing ring;
  AutoResetEvent readSignal;
  QString path = dir.filePath(QStringLiteral("run.zvdat"));
  std::unique_ptr<TReadThread> thread;
  qint64 startMs = 0;

  bool start(MqttPublisher &publisher) {
    ring.reset();
    ring.setStartTime();
    startMs = ring.startTime().toMSecsSinceEpoch();
    QList<ChannelInfo> infos;
    for (int i = 0; i < kChannels; ++i)
      infos.append({i + 1, QStringLiteral("ch"), QString(), 0, 50, 1, 0});
    thread = std::make_unique<TReadThread>(path, infos, ring, readSignal);
    publisher.beginRecording(path, testChannels(), ring.startTime(), nullptr, {2, 2, 2});
    // Called on the read thread itself: publish() must never hold it up.
    QObject::connect(thread.get(), &TReadThread::samples, thread.get(),
                     [&publisher](const SampleBatch &b) { publisher.publish(b); }, Qt::DirectConnection);
    thread->start();
    return readSignal.wait(5000);
  }
  // i-th sample: channel i % 3, a value that identifies it, time i ms.
  void push(int from, int to) {
    for (int i = from; i < to; ++i)
      ring.push(TSampleRecord{i % kChannels, i * 0.25, double(i)});
  }
  void stop(MqttPublisher &publisher) {
    thread->stopAndWait();
    publisher.endRecording();
  }
};

void checkArrival(const std::vector<MqttMessage> &messages, const std::vector<TSampleRecord> &file,
                  qint64 startMs, bool allowDuplicates) {
  const QString problem = ArrivalProblem(
      messages, kPrefix, file, [startMs](const TSampleRecord &r) { return expectedPayload(r, startMs); },
      allowDuplicates);
  QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

// An alarm event's payload written out here, for values whose %g text is also their shortest.
QByteArray expectedAlarm(const AlarmEvent &e, qint64 startMs) {
  static const char *const kNames[] = {"high", "low", "clear"};
  const QString time =
      QDateTime::fromMSecsSinceEpoch(startMs + qint64(e.timeMs), Qt::UTC).toString(Qt::ISODateWithMs);
  return QString::asprintf(R"({"time":"%s","ms":%lld,"channel":%d,"title":"%s","value":%g,"limit":%g,"event":"%s"})",
                           qPrintable(time), qint64(e.timeMs), e.channel + 1, qPrintable(e.title), e.value, e.limit,
                           kNames[int(e.kind)])
      .toUtf8();
}

struct TopicPayload {
  QByteArray topic, payload;
  friend bool operator==(const TopicPayload &, const TopicPayload &) = default;
};

// The alarm messages must be `expected` in that order; with allowDuplicates one may repeat a
// message already seen (QoS 1 around a reconnection). What is wrong, empty when nothing is.
QString alarmArrivalProblem(const std::vector<MqttMessage> &messages, const QList<TopicPayload> &expected,
                            bool allowDuplicates) {
  qsizetype next = 0;
  QList<TopicPayload> seen;
  for (const MqttMessage &m : messages) {
    if (!m.topic.startsWith(kPrefix + "/alarm/"))
      continue;
    const TopicPayload got{m.topic, m.payload};
    if (m.retained)
      return QStringLiteral("retained: %1").arg(QString::fromUtf8(m.payload));
    if (next < expected.size() && got == expected[next]) {
      seen.append(got);
      ++next;
    } else if (!allowDuplicates || !seen.contains(got)) {
      return QStringLiteral("alarm %1 is %2 %3, expected %4")
          .arg(next)
          .arg(QString::fromUtf8(m.topic), QString::fromUtf8(m.payload),
               next < expected.size() ? QString::fromUtf8(expected[next].payload) : QStringLiteral("none"));
    }
  }
  if (next != expected.size())
    return QStringLiteral("%1 of %2 alarms arrived").arg(next).arg(expected.size());
  return {};
}

QByteArray lastStatus(const std::vector<MqttMessage> &messages) {
  const QList<QByteArray> s = Statuses(messages, kPrefix);
  return s.isEmpty() ? QByteArray() : s.last();
}

MqttSettings settingsFor(quint16 port) {
  MqttSettings s;
  s.enabled = true;
  s.port = port;
  s.topicPrefix = QString::fromLatin1(kPrefix);
  return s;
}

bool run(const QString &program, const QStringList &args, const QString &dir) {
  QProcess p;
  p.setWorkingDirectory(dir);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  return p.waitForFinished(30000) && p.exitCode() == 0;
}

// A CA and a server certificate for 127.0.0.1 signed by it.
bool makeCertificates(const QString &dir) {
  QFile ext(dir + QStringLiteral("/ext.cnf"));
  if (!ext.open(QIODevice::WriteOnly))
    return false;
  ext.write("subjectAltName=IP:127.0.0.1\n");
  ext.close();
  const QString o = QStringLiteral("openssl");
  return run(o, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt", "-days", "2",
                 "-subj", "/CN=zervo test CA"}, dir) &&
         run(o, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj",
                 "/CN=127.0.0.1"}, dir) &&
         run(o, {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial", "-out",
                 "server.crt", "-days", "2", "-extfile", "ext.cnf"}, dir);
}

QString tlsListener(const QString &dir) {
  return QStringLiteral("allow_anonymous true\ncafile %1/ca.crt\ncertfile %1/server.crt\nkeyfile %1/server.key\n").arg(dir);
}

} // namespace

class TestMqttPublish : public QObject {
  Q_OBJECT
private slots:
  void payload_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("ms");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("two places") << 1.5 << 2 << 123.0
        << QByteArray(R"({"channel":2,"address":5,"port":"COM3","value":1.50,"ms":123,"time":"2026-12-09T10:15:30.123Z"})");
    QTest::newRow("no places rounds") << 12.6 << 0 << 0.0
        << QByteArray(R"({"channel":2,"address":5,"port":"COM3","value":13,"ms":0,"time":"2026-12-09T10:15:30.000Z"})");
    QTest::newRow("negative, next day") << -0.125 << 3 << 49470000.0
        << QByteArray(R"({"channel":2,"address":5,"port":"COM3","value":-0.125,"ms":49470000,"time":"2026-12-10T00:00:00.000Z"})");
    QTest::newRow("leap day") << 2.0 << 1 << (447.0 * 86400000.0 + 999.0)
        << QByteArray(R"({"channel":2,"address":5,"port":"COM3","value":2.0,"ms":38620800999,"time":"2028-02-29T10:15:30.999Z"})");
    QTest::newRow("not a number") << qQNaN() << 2 << 7.0
        << QByteArray(R"({"channel":2,"address":5,"port":"COM3","value":null,"ms":7,"time":"2026-12-09T10:15:30.007Z"})");
  }
  void payload() {
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(double, ms);
    QFETCH(QByteArray, json);
    const qint64 start = QDateTime(QDate(2026, 12, 9), QTime(10, 15, 30), Qt::UTC).toMSecsSinceEpoch();
    QCOMPARE(ReadingPayload({2, 5, 3}, value, decimals, ms, start), json);
    QCOMPARE(ReadingTopic(QStringLiteral("zervo-daq"), 2), QByteArray("zervo-daq/channel/2"));
  }

  void alarmPayload_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("title");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("limit");
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("ms");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("high") << 0 << QStringLiteral("压力") << 10.5 << 10.0 << int(AlarmEventKind::High) << 123.0
        << QByteArray(R"({"time":"2026-12-09T10:15:30.123Z","ms":123,"channel":1,"title":"压力","value":10.5,"limit":10,"event":"high"})");
    QTest::newRow("low, negative") << 2 << QStringLiteral("T2") << -6.75 << -6.5 << int(AlarmEventKind::Low) << 59999.0
        << QByteArray(R"({"time":"2026-12-09T10:16:29.999Z","ms":59999,"channel":3,"title":"T2","value":-6.75,"limit":-6.5,"event":"low"})");
    QTest::newRow("clear, next day") << 9 << QStringLiteral("ch") << 8.9 << 10.0 << int(AlarmEventKind::Clear) << 49470000.0
        << QByteArray(R"({"time":"2026-12-10T00:00:00.000Z","ms":49470000,"channel":10,"title":"ch","value":8.9,"limit":10,"event":"clear"})");
    QTest::newRow("quotes, backslash, non-ASCII") << 1 << QStringLiteral("a \"b\" \\c 温度°") << 0.1 << 0.25
        << int(AlarmEventKind::High) << 0.0
        << QByteArray("{\"time\":\"2026-12-09T10:15:30.000Z\",\"ms\":0,\"channel\":2,"
                      "\"title\":\"a \\\"b\\\" \\\\c 温度°\",\"value\":0.1,\"limit\":0.25,\"event\":\"high\"}");
    QTest::newRow("line break and control") << 0 << QStringLiteral("x\ny\t\x01") << 1.0 << 0.5
        << int(AlarmEventKind::High) << 5.0
        << QByteArray(R"({"time":"2026-12-09T10:15:30.005Z","ms":5,"channel":1,"title":"x\ny\t\u0001","value":1,"limit":0.5,"event":"high"})");
    QTest::newRow("fractions need all digits") << 0 << QString() << 0.1 + 0.2 << -1.0 / 3.0
        << int(AlarmEventKind::Clear) << 2999.9
        << QByteArray(R"({"time":"2026-12-09T10:15:32.999Z","ms":2999,"channel":1,"title":"","value":0.30000000000000004,"limit":-0.3333333333333333,"event":"clear"})");
    QTest::newRow("tiny and huge") << 4 << QStringLiteral("p") << -1.25e-7 << 1.5e20 << int(AlarmEventKind::Low) << 1.0
        << QByteArray(R"({"time":"2026-12-09T10:15:30.001Z","ms":1,"channel":5,"title":"p","value":-1.25e-07,"limit":1.5e+20,"event":"low"})");
  }
  // The payload holds the fields of the event's log line, and reads back to the same values.
  void alarmPayload() {
    QFETCH(int, channel);
    QFETCH(QString, title);
    QFETCH(double, value);
    QFETCH(double, limit);
    QFETCH(int, kind);
    QFETCH(double, ms);
    QFETCH(QByteArray, json);
    const QDateTime start(QDate(2026, 12, 9), QTime(10, 15, 30), Qt::UTC);
    const AlarmEvent e{ms, channel, title, value, limit, AlarmEventKind(kind)};
    const QByteArray payload = AlarmPayload(e, start);
    QCOMPARE(payload, json);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(payload, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(o.value("title").toString(), title);
    QCOMPARE(o.value("value").toDouble(), value);
    QCOMPARE(o.value("limit").toDouble(), limit);
    // The time is the log line's own text.
    QVERIFY(AlarmLog::Line(e, start).startsWith(o.value("time").toString().toUtf8() + ','));
    QCOMPARE(AlarmTopic(QStringLiteral("zervo-daq"), channel + 1),
             QByteArray("zervo-daq/alarm/") + QByteArray::number(channel + 1));
  }

  // A Sys.ini holding a password is the owner's alone, also after later writes by others.
  void passwordKeepsSettingsPrivate() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Sys.ini"));
    ProfileStore store(path);
    QVERIFY(store.writeInteger(QStringLiteral("System Options"), QStringLiteral("BlockSize"), 10));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    MqttSettings s = settingsFor(1884);
    s.username = QStringLiteral("rec");
    s.password = QStringLiteral("s3cret");
    s.tls = true;
    s.caFile = QStringLiteral("/etc/site-ca.pem");
    QVERIFY(s.save(store));
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    QCOMPARE(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser), ownerOnly);
    QVERIFY(store.writeInteger(QStringLiteral("System Options"), QStringLiteral("BlockSize"), 20));
    QCOMPARE(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser), ownerOnly);
    QCOMPARE(MqttSettings::load(store), s);
    // Defaults with no section at all.
    ProfileStore empty(dir.filePath(QStringLiteral("none.ini")));
    const MqttSettings d = MqttSettings::load(empty);
    QCOMPARE(d.enabled, false);
    QCOMPARE(d.host, QStringLiteral("127.0.0.1"));
    QCOMPARE(d.port, 1883);
    QCOMPARE(d.topicPrefix, QStringLiteral("zervo-daq"));
    QCOMPARE(d.qos, 1);
    QCOMPARE(d.keepAlive, 30);
    QVERIFY(d.effectiveClientId().contains(QString::number(QCoreApplication::applicationPid())));
  }

  void everySampleArrivesInFileOrder() {
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttSubscriber sub(broker.port(), kPrefix + "/#");
    QTRY_VERIFY_WITH_TIMEOUT(sub.subscribed(), 10000);
    MqttPublisher publisher(settingsFor(broker.port()));
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttPublisher::State::Connected, 10000);
    Recording rec;
    QVERIFY(rec.start(publisher));
    constexpr int kCount = 6000;
    rec.push(0, kCount);
    rec.stop(publisher);
    QVERIFY(publisher.waitUntilDrained(30s));
    QCOMPARE(publisher.published(), qint64(kCount));
    QCOMPARE(publisher.pending(), qint64(0));
    const std::vector<TSampleRecord> file = fileSamples(rec.path);
    QCOMPARE(file.size(), size_t(kCount));
    QTRY_COMPARE_WITH_TIMEOUT(lastStatus(sub.messages()), QByteArray("idle"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(sub.count() >= kCount + 2, 10000);
    checkArrival(sub.messages(), file, rec.startMs, false);
  }

  // The broker goes away for 3 s mid-recording; with a small memory bound most of what waits
  // is read back from the file. Nothing is missing afterwards.
  void outageLosesNothing() {
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttSubscriber sub(broker.port(), kPrefix + "/#");
    QTRY_VERIFY_WITH_TIMEOUT(sub.subscribed(), 10000);
    MqttPublisher::Limits limits;
    limits.memoryBound = 300;
    limits.maxInflight = 50;
    MqttPublisher publisher(settingsFor(broker.port()), limits);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttPublisher::State::Connected, 10000);
    Recording rec;
    QVERIFY(rec.start(publisher));
    std::atomic<bool> stop{false};
    std::atomic<int> produced{0};
    // Meters deliver at their own pace, outage or not.
    std::thread producer([&] {
      int i = 0;
      while (!stop.load()) {
        rec.push(i, i + 10);
        i += 10;
        produced.store(i);
        std::this_thread::sleep_for(2ms);
      }
    });
    QTRY_VERIFY_WITH_TIMEOUT(publisher.published() > 500, 10000);
    broker.stop();
    QTRY_VERIFY_WITH_TIMEOUT(publisher.state() != MqttPublisher::State::Connected, 10000);
    const int atOutage = produced.load();
    QElapsedTimer outage;
    outage.start();
    QTRY_VERIFY_WITH_TIMEOUT(outage.elapsed() >= 3000, 5000); // the outage lasts 3 s
    QVERIFY(produced.load() > atOutage + 500);                // and the recording went on
    QVERIFY(publisher.pending() > limits.memoryBound);        // more than memory holds
    QVERIFY(broker.start());
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttPublisher::State::Connected, 15000);
    stop.store(true);
    producer.join();
    rec.stop(publisher);
    QVERIFY(publisher.waitUntilDrained(60s));
    const std::vector<TSampleRecord> file = fileSamples(rec.path);
    QCOMPARE(file.size(), size_t(produced.load()));
    QCOMPARE(publisher.published(), qint64(file.size()));
    QTRY_COMPARE_WITH_TIMEOUT(lastStatus(sub.messages()), QByteArray("idle"), 20000);
    checkArrival(sub.messages(), file, rec.startMs, true);
  }

  // Alarm events handed to the publisher arrive on their channel's topic with the exact payload
  // and in the order given, also those that happened while the broker was away for 2 s; the
  // readings around them are complete too.
  void alarmsArriveInOrderAcrossOutage() {
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttSubscriber sub(broker.port(), kPrefix + "/#", "zervo-alarm-subscriber");
    QTRY_VERIFY_WITH_TIMEOUT(sub.subscribed(), 10000);
    MqttPublisher::Limits limits;
    limits.maxAlarmsInflight = 2; // a window smaller than a batch, so batches are cut
    MqttPublisher publisher(settingsFor(broker.port()), limits);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttPublisher::State::Connected, 10000);
    Recording rec;
    QVERIFY(rec.start(publisher));
    QList<TopicPayload> expected;
    int made = 0;
    const auto hand = [&](int count) {
      AlarmEventBatch batch;
      for (int i = 0; i < count; ++i, ++made) {
        const AlarmEvent e{double(made * 7), made % kChannels, QStringLiteral("ch%1").arg(made % kChannels),
                           made * 0.5 - 4.25, made % 2 ? -3.5 : 12.0, AlarmEventKind(made % 3)};
        batch.append(e);
        expected.append({kPrefix + "/alarm/" + QByteArray::number(e.channel + 1), expectedAlarm(e, rec.startMs)});
      }
      publisher.publishAlarms(batch);
    };
    rec.push(0, 300);
    hand(5);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.alarmsPublished(), qint64(5), 10000);
    hand(2); // may still be in flight when the broker goes
    broker.stop();
    QTRY_VERIFY_WITH_TIMEOUT(publisher.state() != MqttPublisher::State::Connected, 10000);
    rec.push(300, 600);
    hand(1);
    hand(6);
    QTest::qWait(2000);
    // All waiting, none given up.
    const qint64 before = publisher.alarmsPublished();
    QVERIFY(before >= 5 && before <= 7);
    QCOMPARE(publisher.alarmsPending(), made - before);
    QVERIFY(broker.start());
    hand(3); // while the connection comes back
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttPublisher::State::Connected, 15000);
    rec.push(600, 900);
    hand(4);
    rec.stop(publisher);
    QVERIFY(publisher.waitUntilDrained(30s));
    QCOMPARE(publisher.alarmsPublished(), qint64(made));
    QCOMPARE(publisher.alarmsPending(), qint64(0));
    QCOMPARE(publisher.published(), qint64(900));
    QTRY_COMPARE_WITH_TIMEOUT(lastStatus(sub.messages()), QByteArray("idle"), 20000);
    const QString problem = alarmArrivalProblem(sub.messages(), expected, true);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    checkArrival(sub.messages(), fileSamples(rec.path), rec.startMs, true);
  }

  // Brokers that cannot take the readings: the recording is complete regardless and the state
  // says why.
  void unusableBroker_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("state");
    QTest::newRow("never answers") << "silent" << int(MqttPublisher::State::NoAnswer);
    QTest::newRow("login refused") << "login" << int(MqttPublisher::State::Refused);
    QTest::newRow("nothing listening") << "port" << int(MqttPublisher::State::Unreachable);
    QTest::newRow("unknown host") << "host" << int(MqttPublisher::State::Unreachable);
    QTest::newRow("certificate unknown") << "tls" << int(MqttPublisher::State::TlsFailed);
  }
  void unusableBroker() {
    QFETCH(QString, kind);
    QFETCH(int, state);
    QTemporaryDir dir;
    std::unique_ptr<MosquittoBroker> broker;
    QTcpServer silent;
    QList<QTcpSocket *> held;
    MqttSettings s = settingsFor(FreeLoopbackPort());
    if (kind == "silent") {
      QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
      connect(&silent, &QTcpServer::newConnection, this, [&] { held.append(silent.nextPendingConnection()); });
      s.port = silent.serverPort();
    } else if (kind == "login") {
      QVERIFY(run(QStringLiteral("mosquitto_passwd"), {"-c", "-b", "passwd", "rec", "right"}, dir.path()));
      broker = std::make_unique<MosquittoBroker>(
          QStringLiteral("allow_anonymous false\npassword_file %1/passwd").arg(dir.path()));
      QVERIFY(broker->start());
      s.port = broker->port();
      s.username = QStringLiteral("rec");
      s.password = QStringLiteral("wrong");
    } else if (kind == "host") {
      s.host = QStringLiteral("no-such-host.invalid");
    } else if (kind == "tls") {
      QVERIFY(makeCertificates(dir.path()));
      broker = std::make_unique<MosquittoBroker>(tlsListener(dir.path()));
      QVERIFY(broker->start());
      s.port = broker->port();
      s.tls = true; // and no CA file: the system's authorities do not know the test's CA
    }
    MqttPublisher::Limits limits;
    limits.connectTimeout = 2000ms;
    MqttPublisher publisher(s, limits);
    Recording rec;
    QVERIFY(rec.start(publisher));
    rec.push(0, 900);
    QTRY_COMPARE_WITH_TIMEOUT(int(publisher.state()), state, 15000);
    rec.stop(publisher);
    QCOMPARE(fileSamples(rec.path).size(), size_t(900));
    QCOMPARE(rec.thread->samplesWritten(), qint64(900));
    QTRY_COMPARE_WITH_TIMEOUT(publisher.received(), qint64(900), 5000);
    QCOMPARE(publisher.published(), qint64(0));
    QCOMPARE(publisher.pending(), qint64(900));
    QVERIFY(publisher.summaryText().contains(MqttPublisher::StateName(MqttPublisher::State(state))));
    QVERIFY(publisher.summaryText().contains(QStringLiteral("待发布 900")));
    if (kind == "login")
      QVERIFY(publisher.stateText().contains(QStringLiteral("登录被拒绝")));
    qDeleteAll(held);
  }

  void tlsWithCaFileDelivers() {
    QTemporaryDir dir;
    QVERIFY(makeCertificates(dir.path()));
    MosquittoBroker broker(tlsListener(dir.path()));
    QVERIFY(broker.start());
    MqttSettings s = settingsFor(broker.port());
    s.tls = true;
    s.caFile = dir.filePath(QStringLiteral("ca.crt"));
    MqttPublisher publisher(s);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.state(), MqttPublisher::State::Connected, 10000);
    Recording rec;
    QVERIFY(rec.start(publisher));
    rec.push(0, 1500);
    rec.stop(publisher);
    QVERIFY(publisher.waitUntilDrained(30s));
    QCOMPARE(publisher.published(), qint64(1500));
  }
};

QTEST_GUILESS_MAIN(TestMqttPublish)
#include "tst_mqtt_publish.moc"
